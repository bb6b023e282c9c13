// I/O manager internals shared by its source files, the leak checks, the sim
// controls and the user-mode file API.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/io.h"

struct DEVOBJ_EXTENSION {
    PDEVICE_OBJECT device = nullptr;
    std::u16string name;  // as given to IoCreateDevice, empty when unnamed
    bool deleted = false;
    PDEVICE_OBJECT attachedTo = nullptr;
    std::vector<unsigned char>* storage = nullptr;
};

namespace kernel::internal {

// Guards device lists, stacks, the namespace, file objects and interfaces.
std::recursive_mutex& IoMutex();

// ---- drivers ----
[[nodiscard]] PDRIVER_OBJECT CreateDriverObject(std::u16string_view driverName,
                                                std::u16string_view serviceKeyName);
void FreeDriverObject(PDRIVER_OBJECT driver);

// ---- devices ----
[[nodiscard]] std::vector<PDEVICE_OBJECT> LiveDevices();
[[nodiscard]] std::u16string DeviceName(PDEVICE_OBJECT device);
void ForgetDevices();

// ---- namespace ----
// "\DosDevices\X", "\GLOBAL??\X" and "\??\X" name the same link; case does not matter.
[[nodiscard]] std::u16string NormalizeName(std::u16string_view name);
// Resolves links to a device; `remainder` receives what follows the device's name.
[[nodiscard]] NTSTATUS LookupDevice(std::u16string_view name, PDEVICE_OBJECT* device,
                                    std::u16string* remainder);
void RegisterDeviceName(std::u16string_view name, PDEVICE_OBJECT device);
void UnregisterDeviceName(std::u16string_view name);
[[nodiscard]] bool NameExists(std::u16string_view name);
struct LinkInfo {
    std::u16string name;
    std::u16string target;  // empty for a device interface link
    PDEVICE_OBJECT device;  // the interface's device, else NULL
};
[[nodiscard]] std::vector<LinkInfo> LiveLinks();
struct InterfaceInfo {
    GUID interfaceClass;
    PDEVICE_OBJECT physicalDevice;
    std::u16string referenceString;
    std::u16string linkName;
    bool enabled;
};
[[nodiscard]] std::vector<InterfaceInfo> Interfaces();
void ForgetNamespace();

// ---- file objects ----
// Opens `name` as user-mode CreateFile does: resolves it, creates the file object
// and sends IRP_MJ_CREATE to the top of the device's stack, waiting for it.
[[nodiscard]] NTSTATUS OpenFile(std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT* file);
// IRP_MJ_CLEANUP for the file object (the last handle closed), waited for.
NTSTATUS CleanupFile(PFILE_OBJECT file);
// The device the file's requests go to (the top of the stack at open time).
[[nodiscard]] PDEVICE_OBJECT FileTargetDevice(PFILE_OBJECT file);

// ---- IRPs ----
// A request from user mode or a threaded kernel request: the I/O manager
// finishes it (copies buffered output back, writes *ioStatus, sets the event,
// frees the IRP) when it completes.
struct RequestParameters {
    UCHAR majorFunction = 0;
    PDEVICE_OBJECT device = nullptr;  // target
    PFILE_OBJECT file = nullptr;      // referenced by the IRP until it is finished
    // Read, write and the FSD requests.
    PVOID buffer = nullptr;
    ULONG length = 0;
    LONGLONG byteOffset = 0;
    // Device control.
    ULONG ioControlCode = 0;
    bool internal = false;
    PVOID inputBuffer = nullptr;
    ULONG inputLength = 0;
    PVOID outputBuffer = nullptr;
    ULONG outputLength = 0;
    // Completion.
    PKEVENT event = nullptr;
    PIO_STATUS_BLOCK ioStatus = nullptr;
    KPROCESSOR_MODE requestorMode = KernelMode;
    // The I/O manager's own cleanup and close requests cannot fail: fault
    // injection leaves them alone.
    bool mustSucceed = false;
};
// NULL when an allocation fails.
[[nodiscard]] PIRP BuildRequest(const RequestParameters& parameters);
// Cancels every unfinished request on the file object issued by `thread` (all
// threads when NULL). Returns the number of requests found.
size_t CancelFileRequests(PFILE_OBJECT file, PKTHREAD thread);

struct IrpInfo {
    PIRP irp;
    PDEVICE_OBJECT device;  // where it was last sent
    UCHAR majorFunction;
    bool completed;
};
[[nodiscard]] std::vector<IrpInfo> LiveIrps();
// False for an IRP that was freed or never allocated.
[[nodiscard]] bool IrpIsLive(PIRP irp);
void ForgetIrps();

// ---- work items and the error log ----
[[nodiscard]] std::vector<std::string> LiveWorkItems();
void ForgetWorkItems();
[[nodiscard]] size_t UnwrittenErrorLogEntries();
void ForgetErrorLog();

}  // namespace kernel::internal
