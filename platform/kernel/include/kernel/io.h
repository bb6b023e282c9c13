// I/O manager: driver, device and file objects, device stacks, IRPs and their
// stack locations, completion and cancellation, names and symbolic links, device
// interfaces, I/O work items and the error log.
// A fake: IRPs really travel through the drivers' dispatch routines; every
// routine is checked by the verifier (sim/verifier.h).
#pragma once

#include "kernel/ex.h"
#include "kernel/mm.h"

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct FILE_OBJECT;
struct IRP;
struct IO_STACK_LOCATION;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PFILE_OBJECT = FILE_OBJECT*;
using PIRP = IRP*;
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

// ---- Major and minor function codes ---------------------------------------------

constexpr UCHAR IRP_MJ_CREATE = 0x00;
constexpr UCHAR IRP_MJ_CREATE_NAMED_PIPE = 0x01;
constexpr UCHAR IRP_MJ_CLOSE = 0x02;
constexpr UCHAR IRP_MJ_READ = 0x03;
constexpr UCHAR IRP_MJ_WRITE = 0x04;
constexpr UCHAR IRP_MJ_QUERY_INFORMATION = 0x05;
constexpr UCHAR IRP_MJ_SET_INFORMATION = 0x06;
constexpr UCHAR IRP_MJ_QUERY_EA = 0x07;
constexpr UCHAR IRP_MJ_SET_EA = 0x08;
constexpr UCHAR IRP_MJ_FLUSH_BUFFERS = 0x09;
constexpr UCHAR IRP_MJ_QUERY_VOLUME_INFORMATION = 0x0a;
constexpr UCHAR IRP_MJ_SET_VOLUME_INFORMATION = 0x0b;
constexpr UCHAR IRP_MJ_DIRECTORY_CONTROL = 0x0c;
constexpr UCHAR IRP_MJ_FILE_SYSTEM_CONTROL = 0x0d;
constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0e;
constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0f;
constexpr UCHAR IRP_MJ_SHUTDOWN = 0x10;
constexpr UCHAR IRP_MJ_LOCK_CONTROL = 0x11;
constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
constexpr UCHAR IRP_MJ_CREATE_MAILSLOT = 0x13;
constexpr UCHAR IRP_MJ_QUERY_SECURITY = 0x14;
constexpr UCHAR IRP_MJ_SET_SECURITY = 0x15;
constexpr UCHAR IRP_MJ_POWER = 0x16;
constexpr UCHAR IRP_MJ_SYSTEM_CONTROL = 0x17;
constexpr UCHAR IRP_MJ_DEVICE_CHANGE = 0x18;
constexpr UCHAR IRP_MJ_QUERY_QUOTA = 0x19;
constexpr UCHAR IRP_MJ_SET_QUOTA = 0x1a;
constexpr UCHAR IRP_MJ_PNP = 0x1b;
constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1b;

constexpr UCHAR IRP_MN_START_DEVICE = 0x00;
constexpr UCHAR IRP_MN_QUERY_REMOVE_DEVICE = 0x01;
constexpr UCHAR IRP_MN_REMOVE_DEVICE = 0x02;
constexpr UCHAR IRP_MN_CANCEL_REMOVE_DEVICE = 0x03;
constexpr UCHAR IRP_MN_STOP_DEVICE = 0x04;
constexpr UCHAR IRP_MN_QUERY_STOP_DEVICE = 0x05;
constexpr UCHAR IRP_MN_CANCEL_STOP_DEVICE = 0x06;
constexpr UCHAR IRP_MN_QUERY_DEVICE_RELATIONS = 0x07;
constexpr UCHAR IRP_MN_QUERY_INTERFACE = 0x08;
constexpr UCHAR IRP_MN_QUERY_CAPABILITIES = 0x09;
constexpr UCHAR IRP_MN_QUERY_RESOURCES = 0x0A;
constexpr UCHAR IRP_MN_QUERY_RESOURCE_REQUIREMENTS = 0x0B;
constexpr UCHAR IRP_MN_QUERY_DEVICE_TEXT = 0x0C;
constexpr UCHAR IRP_MN_FILTER_RESOURCE_REQUIREMENTS = 0x0D;
constexpr UCHAR IRP_MN_READ_CONFIG = 0x0F;
constexpr UCHAR IRP_MN_WRITE_CONFIG = 0x10;
constexpr UCHAR IRP_MN_EJECT = 0x11;
constexpr UCHAR IRP_MN_SET_LOCK = 0x12;
constexpr UCHAR IRP_MN_QUERY_ID = 0x13;
constexpr UCHAR IRP_MN_QUERY_PNP_DEVICE_STATE = 0x14;
constexpr UCHAR IRP_MN_QUERY_BUS_INFORMATION = 0x15;
constexpr UCHAR IRP_MN_DEVICE_USAGE_NOTIFICATION = 0x16;
constexpr UCHAR IRP_MN_SURPRISE_REMOVAL = 0x17;

constexpr UCHAR IRP_MN_WAIT_WAKE = 0x00;
constexpr UCHAR IRP_MN_POWER_SEQUENCE = 0x01;
constexpr UCHAR IRP_MN_SET_POWER = 0x02;
constexpr UCHAR IRP_MN_QUERY_POWER = 0x03;

constexpr UCHAR IRP_MN_QUERY_ALL_DATA = 0x00;
constexpr UCHAR IRP_MN_QUERY_SINGLE_INSTANCE = 0x01;
constexpr UCHAR IRP_MN_CHANGE_SINGLE_INSTANCE = 0x02;
constexpr UCHAR IRP_MN_CHANGE_SINGLE_ITEM = 0x03;
constexpr UCHAR IRP_MN_ENABLE_EVENTS = 0x04;
constexpr UCHAR IRP_MN_DISABLE_EVENTS = 0x05;
constexpr UCHAR IRP_MN_ENABLE_COLLECTION = 0x06;
constexpr UCHAR IRP_MN_DISABLE_COLLECTION = 0x07;
constexpr UCHAR IRP_MN_REGINFO = 0x08;
constexpr UCHAR IRP_MN_EXECUTE_METHOD = 0x09;
constexpr UCHAR IRP_MN_REGINFO_EX = 0x0b;

// ---- Control codes ---------------------------------------------------------------

using DEVICE_TYPE = ULONG;
constexpr ULONG METHOD_BUFFERED = 0;
constexpr ULONG METHOD_IN_DIRECT = 1;
constexpr ULONG METHOD_OUT_DIRECT = 2;
constexpr ULONG METHOD_NEITHER = 3;
constexpr ULONG FILE_ANY_ACCESS = 0;
constexpr ULONG FILE_READ_ACCESS = 1;
constexpr ULONG FILE_WRITE_ACCESS = 2;
constexpr ULONG CTL_CODE(ULONG deviceType, ULONG function, ULONG method, ULONG access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr ULONG METHOD_FROM_CTL_CODE(ULONG code) {
    return code & 3;
}
constexpr ULONG DEVICE_TYPE_FROM_CTL_CODE(ULONG code) {
    return (code & 0xffff0000) >> 16;
}

// ---- Device types, characteristics and flags ------------------------------------

constexpr DEVICE_TYPE FILE_DEVICE_BUS_EXTENDER = 0x0000002a;
constexpr DEVICE_TYPE FILE_DEVICE_NULL = 0x00000015;
constexpr DEVICE_TYPE FILE_DEVICE_SERIAL_PORT = 0x0000001b;
constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x00000022;
constexpr DEVICE_TYPE FILE_DEVICE_USB = FILE_DEVICE_UNKNOWN;

constexpr ULONG FILE_REMOVABLE_MEDIA = 0x00000001;
constexpr ULONG FILE_DEVICE_SECURE_OPEN = 0x00000100;
constexpr ULONG FILE_AUTOGENERATED_DEVICE_NAME = 0x00000080;

constexpr ULONG DO_VERIFY_VOLUME = 0x00000002;
constexpr ULONG DO_BUFFERED_IO = 0x00000004;
constexpr ULONG DO_EXCLUSIVE = 0x00000008;
constexpr ULONG DO_DIRECT_IO = 0x00000010;
constexpr ULONG DO_DEVICE_HAS_NAME = 0x00000040;
constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;
constexpr ULONG DO_POWER_PAGABLE = 0x00002000;
constexpr ULONG DO_POWER_INRUSH = 0x00004000;

// ---- Routine types ---------------------------------------------------------------

using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_CANCEL = VOID (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_UNLOAD = VOID (*)(PDRIVER_OBJECT driverObject);
using PDRIVER_ADD_DEVICE = NTSTATUS (*)(PDRIVER_OBJECT driverObject,
                                        PDEVICE_OBJECT physicalDeviceObject);
using PDRIVER_INITIALIZE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
using PDRIVER_STARTIO = VOID (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);

// ---- Driver and device objects --------------------------------------------------

struct DRIVER_EXTENSION {
    DRIVER_OBJECT* DriverObject;
    PDRIVER_ADD_DEVICE AddDevice;
    ULONG Count;
    UNICODE_STRING ServiceKeyName;
};
using PDRIVER_EXTENSION = DRIVER_EXTENSION*;

struct DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;  // first of the driver's devices, linked by NextDevice
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    PDRIVER_EXTENSION DriverExtension;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    PVOID FastIoDispatch;
    PDRIVER_INITIALIZE DriverInit;
    PDRIVER_STARTIO DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct DEVOBJ_EXTENSION;  // the I/O manager's own record of the device

struct DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT NextDevice;      // next device of the same driver
    PDEVICE_OBJECT AttachedDevice;  // the device attached above this one
    PIRP CurrentIrp;
    ULONG Flags;
    ULONG Characteristics;
    PVOID DeviceExtension;
    DEVICE_TYPE DeviceType;
    CCHAR StackSize;
    ULONG AlignmentRequirement;
    DEVOBJ_EXTENSION* DeviceObjectExtension;
};

// ---- File objects and status blocks ---------------------------------------------

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

struct FILE_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVOID FsContext;
    PVOID FsContext2;
    NTSTATUS FinalStatus;
    FILE_OBJECT* RelatedFileObject;
    ULONG Flags;
    UNICODE_STRING FileName;
    LARGE_INTEGER CurrentByteOffset;
    KEVENT Event;
};

constexpr ULONG FO_SYNCHRONOUS_IO = 0x00000002;
constexpr ULONG FO_CLEANUP_COMPLETE = 0x00004000;

enum FILE_INFORMATION_CLASS {
    FileBasicInformation = 4,
    FileStandardInformation = 5,
    FilePositionInformation = 14,
    FileAllocationInformation = 19,
    FileEndOfFileInformation = 20,
};

// ---- Power and plug-and-play parameter types ------------------------------------

enum SYSTEM_POWER_STATE {
    PowerSystemUnspecified = 0,
    PowerSystemWorking = 1,
    PowerSystemSleeping1 = 2,
    PowerSystemSleeping2 = 3,
    PowerSystemSleeping3 = 4,
    PowerSystemHibernate = 5,
    PowerSystemShutdown = 6,
    PowerSystemMaximum = 7,
};
enum DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD1 = 2,
    PowerDeviceD2 = 3,
    PowerDeviceD3 = 4,
    PowerDeviceMaximum = 5,
};
union POWER_STATE {
    SYSTEM_POWER_STATE SystemState;
    DEVICE_POWER_STATE DeviceState;
};
enum POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState = 1 };
enum POWER_ACTION {
    PowerActionNone = 0,
    PowerActionReserved,
    PowerActionSleep,
    PowerActionHibernate,
    PowerActionShutdown,
    PowerActionShutdownReset,
    PowerActionShutdownOff,
    PowerActionWarmEject,
};
enum DEVICE_RELATION_TYPE {
    BusRelations = 0,
    EjectionRelations,
    PowerRelations,
    RemovalRelations,
    TargetDeviceRelation,
    SingleBusRelations,
};
enum BUS_QUERY_ID_TYPE {
    BusQueryDeviceID = 0,
    BusQueryHardwareIDs = 1,
    BusQueryCompatibleIDs = 2,
    BusQueryInstanceID = 3,
    BusQueryDeviceSerialNumber = 4,
    BusQueryContainerID = 5,
};
enum DEVICE_TEXT_TYPE { DeviceTextDescription = 0, DeviceTextLocationInformation = 1 };
enum DEVICE_USAGE_NOTIFICATION_TYPE {
    DeviceUsageTypeUndefined = 0,
    DeviceUsageTypePaging,
    DeviceUsageTypeHibernation,
    DeviceUsageTypeDumpFile,
};

struct INTERFACE;
struct DEVICE_CAPABILITIES;
struct CM_RESOURCE_LIST;
struct POWER_SEQUENCE;

// ---- Stack locations and IRPs ---------------------------------------------------

// IO_STACK_LOCATION.Control
constexpr UCHAR SL_PENDING_RETURNED = 0x01;
constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            PVOID SecurityContext;
            ULONG Options;
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            ULONG Length;
            FILE_INFORMATION_CLASS FileInformationClass;
        } QueryFile;
        struct {
            ULONG Length;
            FILE_INFORMATION_CLASS FileInformationClass;
            PFILE_OBJECT FileObject;
        } SetFile;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            DEVICE_RELATION_TYPE Type;
        } QueryDeviceRelations;
        struct {
            const GUID* InterfaceType;
            USHORT Size;
            USHORT Version;
            INTERFACE* Interface;
            PVOID InterfaceSpecificData;
        } QueryInterface;
        struct {
            DEVICE_CAPABILITIES* Capabilities;
        } DeviceCapabilities;
        struct {
            BUS_QUERY_ID_TYPE IdType;
        } QueryId;
        struct {
            DEVICE_TEXT_TYPE DeviceTextType;
            ULONG LocaleId;
        } QueryDeviceText;
        struct {
            BOOLEAN InPath;
            BOOLEAN Reserved[3];
            DEVICE_USAGE_NOTIFICATION_TYPE Type;
        } UsageNotification;
        struct {
            SYSTEM_POWER_STATE PowerState;
        } WaitWake;
        struct {
            POWER_SEQUENCE* PowerSequence;
        } PowerSequence;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            POWER_ACTION ShutdownType;
        } Power;
        struct {
            CM_RESOURCE_LIST* AllocatedResources;
            CM_RESOURCE_LIST* AllocatedResourcesTranslated;
        } StartDevice;
        struct {
            ULONG_PTR ProviderId;
            PVOID DataPath;
            ULONG BufferSize;
            PVOID Buffer;
        } WMI;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
};

// IRP.Flags
constexpr ULONG IRP_NOCACHE = 0x00000001;
constexpr ULONG IRP_PAGING_IO = 0x00000002;
constexpr ULONG IRP_MOUNT_COMPLETION = 0x00000002;
constexpr ULONG IRP_SYNCHRONOUS_API = 0x00000004;
constexpr ULONG IRP_ASSOCIATED_IRP = 0x00000008;
constexpr ULONG IRP_BUFFERED_IO = 0x00000010;
constexpr ULONG IRP_DEALLOCATE_BUFFER = 0x00000020;
constexpr ULONG IRP_INPUT_OPERATION = 0x00000040;
constexpr ULONG IRP_CREATE_OPERATION = 0x00000080;
constexpr ULONG IRP_READ_OPERATION = 0x00000100;
constexpr ULONG IRP_WRITE_OPERATION = 0x00000200;
constexpr ULONG IRP_CLOSE_OPERATION = 0x00000400;

// A BOOLEAN read and written atomically: IRP.Cancel is set by IoCancelIrp on one
// processor while the owner of the IRP tests it on another.
class AtomicBoolean {
  public:
    AtomicBoolean() = default;
    AtomicBoolean(BOOLEAN value) : value_(value) {}
    AtomicBoolean& operator=(BOOLEAN value) {
        __atomic_store_n(&value_, value, __ATOMIC_SEQ_CST);
        return *this;
    }
    operator BOOLEAN() const { return __atomic_load_n(&value_, __ATOMIC_SEQ_CST); }

  private:
    BOOLEAN value_ = FALSE;
};

struct IRP {
    CSHORT Type;
    USHORT Size;
    PMDL MdlAddress;
    ULONG Flags;
    union {
        IRP* MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer;
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;
    AtomicBoolean Cancel;
    KIRQL CancelIrql;
    CCHAR ApcEnvironment;
    UCHAR AllocationFlags;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    union {
        struct {
            PVOID UserApcRoutine;
            PVOID UserApcContext;
        } AsynchronousParameters;
        LARGE_INTEGER AllocationSize;
    } Overlay;
    PDRIVER_CANCEL CancelRoutine;  // exchanged atomically (IoSetCancelRoutine)
    PVOID UserBuffer;
    union {
        struct {
            PVOID DriverContext[4];
            PETHREAD Thread;
            PCHAR AuxiliaryBuffer;
            LIST_ENTRY ListEntry;
            PIO_STACK_LOCATION CurrentStackLocation;
            PFILE_OBJECT OriginalFileObject;
        } Overlay;
    } Tail;
};

[[nodiscard]] inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation;
}
// Below the last stack location lies one guard location, so a driver that writes
// the "next" location of an IRP without one harms nothing; IoCallDriver reports it.
[[nodiscard]] inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline void IoSetNextIrpStackLocation(PIRP irp) {
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
}
inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    *next = *current;
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                   BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                   BOOLEAN invokeOnCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (invokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (invokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
    if (invokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL cancelRoutine) {
    return __atomic_exchange_n(&irp->CancelRoutine, cancelRoutine, __ATOMIC_SEQ_CST);
}
// Sets SL_PENDING_RETURNED in the current stack location (a routine, not a macro,
// so that the verifier sees it).
void IoMarkIrpPending(PIRP irp);

[[nodiscard]] USHORT IoSizeOfIrp(CCHAR stackSize);
[[nodiscard]] PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoReuseIrp(PIRP irp, NTSTATUS status);
void IoFreeIrp(PIRP irp);

NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
inline NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    return IofCallDriver(deviceObject, irp);
}
void IofCompleteRequest(PIRP irp, KPRIORITY priorityBoost);
inline void IoCompleteRequest(PIRP irp, KPRIORITY priorityBoost) {
    IofCompleteRequest(irp, priorityBoost);
}

// Threaded IRPs: the I/O manager sets *ioStatusBlock and the event when the IRP
// has completed, and frees it.
[[nodiscard]] PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                                 PVOID inputBuffer, ULONG inputBufferLength,
                                                 PVOID outputBuffer, ULONG outputBufferLength,
                                                 BOOLEAN internalDeviceIoControl, PKEVENT event,
                                                 PIO_STATUS_BLOCK ioStatusBlock);
[[nodiscard]] PIRP IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject,
                                                PVOID buffer, ULONG length,
                                                PLARGE_INTEGER startingOffset, PKEVENT event,
                                                PIO_STATUS_BLOCK ioStatusBlock);
[[nodiscard]] PIRP IoBuildAsynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject,
                                                 PVOID buffer, ULONG length,
                                                 PLARGE_INTEGER startingOffset,
                                                 PIO_STATUS_BLOCK ioStatusBlock);

// ---- Cancellation ---------------------------------------------------------------

// Sets IRP.Cancel and calls the cancel routine, if any, with the cancel spin lock
// held; TRUE when a cancel routine was called.
BOOLEAN IoCancelIrp(PIRP irp);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);

// ---- MDLs -----------------------------------------------------------------------

// With an IRP, the MDL becomes its MdlAddress (or joins its chain when secondary).
[[nodiscard]] PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer,
                                 BOOLEAN chargeQuota, PIRP irp);
void IoFreeMdl(PMDL mdl);
void IoBuildPartialMdl(PMDL sourceMdl, PMDL targetMdl, PVOID virtualAddress, ULONG length);

// ---- Device objects and stacks --------------------------------------------------

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize,
                        PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                        ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject);
// The memory stays until the last reference (ObDereferenceObject) is dropped.
void IoDeleteDevice(PDEVICE_OBJECT deviceObject);
// Attaches on top of the stack that holds targetDevice; returns the device that
// was the top (the new next-lower device), NULL on failure.
[[nodiscard]] PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice,
                                                         PDEVICE_OBJECT targetDevice);
// Detaches the device attached above targetDevice.
void IoDetachDevice(PDEVICE_OBJECT targetDevice);
[[nodiscard]] PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject);
// The top of the stack, with a reference the caller drops with ObDereferenceObject.
[[nodiscard]] PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject);
[[nodiscard]] PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject);
// Opens the named device (IRP_MJ_CREATE); the caller drops the file object with
// ObDereferenceObject, which closes it.
NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING objectName, ACCESS_MASK desiredAccess,
                                  PFILE_OBJECT* fileObject, PDEVICE_OBJECT* deviceObject);
// Reference counting of device and file objects.
void ObReferenceObject(PVOID object);
void ObDereferenceObject(PVOID object);
inline void ObfReferenceObject(PVOID object) {
    ObReferenceObject(object);
}
inline void ObfDereferenceObject(PVOID object) {
    ObDereferenceObject(object);
}

// ---- Names, symbolic links, device interfaces -----------------------------------

// "\DosDevices\X" and "\??\X" name the same link.
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName);
// symbolicLinkName receives a pool buffer the caller frees with RtlFreeUnicodeString.
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject,
                                   const GUID* interfaceClassGuid, PUNICODE_STRING referenceString,
                                   PUNICODE_STRING symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable);

// ---- I/O work items -------------------------------------------------------------

struct IO_WORKITEM;
using PIO_WORKITEM = IO_WORKITEM*;
using PIO_WORKITEM_ROUTINE = VOID (*)(PDEVICE_OBJECT deviceObject, PVOID context);

// Holds a reference on the device object while the item is queued or running.
[[nodiscard]] PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);
void IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine,
                     WORK_QUEUE_TYPE queueType, PVOID context);
void IoFreeWorkItem(PIO_WORKITEM ioWorkItem);

// ---- Error log ------------------------------------------------------------------

struct IO_ERROR_LOG_PACKET {
    UCHAR MajorFunctionCode;
    UCHAR RetryCount;
    USHORT DumpDataSize;
    USHORT NumberOfStrings;
    USHORT StringOffset;  // byte offset of the first string from the packet's start
    USHORT EventCategory;
    NTSTATUS ErrorCode;
    ULONG UniqueErrorValue;
    NTSTATUS FinalStatus;
    ULONG SequenceNumber;
    ULONG IoControlCode;
    LARGE_INTEGER DeviceOffset;
    ULONG DumpData[1];
};
using PIO_ERROR_LOG_PACKET = IO_ERROR_LOG_PACKET*;

constexpr ULONG ERROR_LOG_MAXIMUM_SIZE = 152;

// ioObject: a device or driver object. NULL when entrySize exceeds
// ERROR_LOG_MAXIMUM_SIZE or no entry is available.
[[nodiscard]] PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize);
void IoWriteErrorLogEntry(PVOID elEntry);
void IoFreeErrorLogEntry(PVOID elEntry);

// ---- System queries -------------------------------------------------------------

[[nodiscard]] BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion);
