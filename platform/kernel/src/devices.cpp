// Driver objects, device objects and stacks, file objects and references.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "internal/dispatcher.h"
#include "internal/io_manager.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

constexpr CSHORT kDeviceType = 3;
constexpr CSHORT kFileType = 5;
constexpr CSHORT kDriverType = 4;

struct DriverRecord {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::u16string name;
    std::u16string serviceKey;
};

struct FileRecord {
    LONG references = 1;
    std::u16string fileName;
    PDEVICE_OBJECT target = nullptr;  // referenced
};

struct ObjectTables {
    std::vector<PDEVICE_OBJECT> devices;  // created and not yet deleted
    std::map<PFILE_OBJECT, FileRecord> files;
    std::map<PDRIVER_OBJECT, std::unique_ptr<DriverRecord>> drivers;
    ULONG nextAutomaticName = 0;
    std::vector<DEVOBJ_EXTENSION*> retired;  // kept after ForgetDevices
};

ObjectTables& Tables() {
    static ObjectTables tables;
    return tables;
}

UNICODE_STRING View(std::u16string& text) {
    UNICODE_STRING string;
    string.Buffer = text.data();
    string.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    string.MaximumLength = string.Length;
    return string;
}

std::u16string FromUnicode(PCUNICODE_STRING string) {
    if (string == nullptr || string->Buffer == nullptr) return {};
    return std::u16string(string->Buffer, string->Length / sizeof(WCHAR));
}

void FreeDeviceMemory(PDEVICE_OBJECT device) {
    DEVOBJ_EXTENSION* record = device->DeviceObjectExtension;
    ForgetLocksIn(record->storage->data(), record->storage->size());
    delete record->storage;
    delete record;
}

// Sends a request that carries only its major function to the file's target
// and waits for it at PASSIVE_LEVEL.
NTSTATUS SendFileRequest(PFILE_OBJECT file, PDEVICE_OBJECT target, UCHAR major,
                         ACCESS_MASK access) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    RequestParameters p;
    p.majorFunction = major;
    p.device = target;
    p.file = file;
    p.event = &event;
    p.ioStatus = &status;
    p.requestorMode = UserMode;
    p.mustSucceed = major != IRP_MJ_CREATE;
    PIRP irp = BuildRequest(p);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    if (major == IRP_MJ_CREATE) {
        PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
        stack->Parameters.Create.Options = 0;
        stack->Parameters.Create.ShareAccess = 0;
        stack->Parameters.Create.SecurityContext = nullptr;
        (void)access;
        irp->Flags |= IRP_CREATE_OPERATION | IRP_SYNCHRONOUS_API;
    } else if (major == IRP_MJ_CLOSE) {
        irp->Flags |= IRP_CLOSE_OPERATION | IRP_SYNCHRONOUS_API;
    }
    // Pending or not, the event is set once the status block is written.
    IofCallDriver(target, irp);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    return status.Status;
}

void CloseFile(PFILE_OBJECT file, PDEVICE_OBJECT target) {
    // The close IRP must not hold a reference on the file it closes.
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    RequestParameters p;
    p.majorFunction = IRP_MJ_CLOSE;
    p.device = target;
    p.event = &event;
    p.ioStatus = &status;
    p.requestorMode = UserMode;
    p.mustSucceed = true;
    PIRP irp = BuildRequest(p);
    if (irp != nullptr) {
        IoGetNextIrpStackLocation(irp)->FileObject = file;
        irp->Flags |= IRP_CLOSE_OPERATION | IRP_SYNCHRONOUS_API;
        IofCallDriver(target, irp);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
}

void CloseAndFree(PFILE_OBJECT file) {
    PDEVICE_OBJECT target = nullptr;
    {
        std::lock_guard guard(IoMutex());
        target = Tables().files.at(file).target;
    }
    CloseFile(file, target);
    {
        std::lock_guard guard(IoMutex());
        Tables().files.erase(file);
    }
    delete file;
    ObDereferenceObject(target);
}

}  // namespace

std::recursive_mutex& IoMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// ---- drivers --------------------------------------------------------------------

PDRIVER_OBJECT CreateDriverObject(std::u16string_view driverName,
                                  std::u16string_view serviceKeyName) {
    auto record = std::make_unique<DriverRecord>();
    record->name = driverName;
    record->serviceKey = serviceKeyName;
    DRIVER_OBJECT& driver = record->object;
    driver.Type = kDriverType;
    driver.Size = sizeof(DRIVER_OBJECT);
    driver.DriverExtension = &record->extension;
    driver.DriverName = View(record->name);
    record->extension.DriverObject = &driver;
    record->extension.ServiceKeyName = View(record->serviceKey);
    PDRIVER_OBJECT result = &driver;
    std::lock_guard guard(IoMutex());
    Tables().drivers[result] = std::move(record);
    return result;
}

void FreeDriverObject(PDRIVER_OBJECT driver) {
    std::lock_guard guard(IoMutex());
    Tables().drivers.erase(driver);
}

// ---- devices --------------------------------------------------------------------

std::vector<PDEVICE_OBJECT> LiveDevices() {
    std::lock_guard guard(IoMutex());
    return Tables().devices;
}

std::u16string DeviceName(PDEVICE_OBJECT device) {
    std::lock_guard guard(IoMutex());
    return device->DeviceObjectExtension->name;
}

void ForgetDevices() {
    std::lock_guard guard(IoMutex());
    auto& tables = Tables();
    for (PDEVICE_OBJECT device : tables.devices) {
        tables.retired.push_back(device->DeviceObjectExtension);
    }
    tables.devices.clear();
}

// ---- file objects ---------------------------------------------------------------

NTSTATUS OpenFile(std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT* file) {
    *file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    std::u16string remainder;
    NTSTATUS status = LookupDevice(name, &device, &remainder);
    if (!NT_SUCCESS(status)) return status;
    PDEVICE_OBJECT target = IoGetAttachedDeviceReference(device);
    auto* object = new FILE_OBJECT{};
    object->Type = kFileType;
    object->Size = sizeof(FILE_OBJECT);
    object->DeviceObject = device;
    KeInitializeEvent(&object->Event, NotificationEvent, FALSE);
    {
        std::lock_guard guard(IoMutex());
        FileRecord& record = Tables().files[object];
        record.fileName = remainder;
        record.target = target;
        object->FileName = View(record.fileName);
    }
    status = SendFileRequest(object, target, IRP_MJ_CREATE, access);
    if (!NT_SUCCESS(status)) {
        // A failed create is not closed: no driver saw the file as open.
        std::lock_guard guard(IoMutex());
        Tables().files.erase(object);
        delete object;
        ObDereferenceObject(target);
        return status;
    }
    *file = object;
    return status;
}

NTSTATUS CleanupFile(PFILE_OBJECT file) {
    NTSTATUS status = SendFileRequest(file, FileTargetDevice(file), IRP_MJ_CLEANUP, 0);
    file->Flags |= FO_CLEANUP_COMPLETE;
    return status;
}

PDEVICE_OBJECT FileTargetDevice(PFILE_OBJECT file) {
    std::lock_guard guard(IoMutex());
    auto found = Tables().files.find(file);
    return found == Tables().files.end() ? nullptr : found->second.target;
}

}  // namespace kernel::internal

using namespace kernel::internal;

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize,
                        PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                        ULONG deviceCharacteristics, BOOLEAN, PDEVICE_OBJECT* deviceObject) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
    *deviceObject = nullptr;
    std::lock_guard guard(IoMutex());
    auto& tables = Tables();
    std::u16string name = FromUnicode(deviceName);
    if (name.empty() && (deviceCharacteristics & FILE_AUTOGENERATED_DEVICE_NAME) != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "\\Device\\%08X", tables.nextAutomaticName++);
        name.assign(text, text + std::strlen(text));
    }
    if (!name.empty() && NameExists(name)) return STATUS_OBJECT_NAME_COLLISION;

    // The extension follows the object, 16-byte aligned, zeroed.
    const size_t objectSize = (sizeof(DEVICE_OBJECT) + 15) / 16 * 16;
    auto* storage = new std::vector<unsigned char>(objectSize + deviceExtensionSize + 16, 0);
    auto* base =
        storage->data() + (16 - reinterpret_cast<std::uintptr_t>(storage->data()) % 16) % 16;
    auto* device = new (base) DEVICE_OBJECT{};
    auto* record = new DEVOBJ_EXTENSION;
    record->device = device;
    record->name = name;
    record->storage = storage;
    device->Type = kDeviceType;
    device->Size = static_cast<USHORT>(objectSize + deviceExtensionSize);
    device->DriverObject = driverObject;
    device->Flags = DO_DEVICE_INITIALIZING | (name.empty() ? 0 : DO_DEVICE_HAS_NAME);
    device->Characteristics = deviceCharacteristics;
    device->DeviceExtension = deviceExtensionSize != 0 ? base + objectSize : nullptr;
    device->DeviceType = deviceType;
    device->StackSize = 1;
    device->DeviceObjectExtension = record;
    device->NextDevice = driverObject->DeviceObject;
    driverObject->DeviceObject = device;
    if (!name.empty()) RegisterDeviceName(name, device);
    tables.devices.push_back(device);
    *deviceObject = device;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
    bool freeNow = false;
    {
        std::lock_guard guard(IoMutex());
        auto& tables = Tables();
        DEVOBJ_EXTENSION* record = deviceObject->DeviceObjectExtension;
        if (record->deleted) return;
        record->deleted = true;
        if (!record->name.empty()) UnregisterDeviceName(record->name);
        PDRIVER_OBJECT driver = deviceObject->DriverObject;
        for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link != nullptr;
             link = &(*link)->NextDevice) {
            if (*link == deviceObject) {
                *link = deviceObject->NextDevice;
                break;
            }
        }
        std::erase(tables.devices, deviceObject);
        freeNow = __atomic_load_n(&deviceObject->ReferenceCount, __ATOMIC_SEQ_CST) == 0;
    }
    if (freeNow) FreeDeviceMemory(deviceObject);
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject) {
    std::lock_guard guard(IoMutex());
    while (deviceObject->AttachedDevice != nullptr) deviceObject = deviceObject->AttachedDevice;
    return deviceObject;
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject) {
    std::lock_guard guard(IoMutex());
    PDEVICE_OBJECT top = IoGetAttachedDevice(deviceObject);
    ObReferenceObject(top);
    return top;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice,
                                           PDEVICE_OBJECT targetDevice) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoAttachDeviceToDeviceStack");
    std::lock_guard guard(IoMutex());
    PDEVICE_OBJECT top = IoGetAttachedDevice(targetDevice);
    if (top->DeviceObjectExtension->deleted || top == sourceDevice) return nullptr;
    top->AttachedDevice = sourceDevice;
    sourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    sourceDevice->AlignmentRequirement =
        std::max(sourceDevice->AlignmentRequirement, top->AlignmentRequirement);
    sourceDevice->DeviceObjectExtension->attachedTo = top;
    return top;
}

void IoDetachDevice(PDEVICE_OBJECT targetDevice) {
    std::lock_guard guard(IoMutex());
    PDEVICE_OBJECT source = targetDevice->AttachedDevice;
    if (source == nullptr) return;
    source->DeviceObjectExtension->attachedTo = nullptr;
    targetDevice->AttachedDevice = nullptr;
}

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject) {
    PDEVICE_OBJECT target = FileTargetDevice(fileObject);
    return target != nullptr ? target : IoGetAttachedDevice(fileObject->DeviceObject);
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING objectName, ACCESS_MASK desiredAccess,
                                  PFILE_OBJECT* fileObject, PDEVICE_OBJECT* deviceObject) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoGetDeviceObjectPointer");
    PFILE_OBJECT file = nullptr;
    NTSTATUS status = OpenFile(FromUnicode(objectName), desiredAccess, &file);
    if (!NT_SUCCESS(status)) return status;
    // The platform closes the handle it opened at once: the file is cleaned up and
    // lives on through the returned reference.
    CleanupFile(file);
    *fileObject = file;
    *deviceObject = IoGetRelatedDeviceObject(file);
    return STATUS_SUCCESS;
}

void ObReferenceObject(PVOID object) {
    auto* type = static_cast<CSHORT*>(object);
    if (*type == kDeviceType) {
        __atomic_add_fetch(&static_cast<PDEVICE_OBJECT>(object)->ReferenceCount, 1,
                           __ATOMIC_SEQ_CST);
        return;
    }
    if (*type == kFileType) {
        std::lock_guard guard(IoMutex());
        auto found = Tables().files.find(static_cast<PFILE_OBJECT>(object));
        if (found != Tables().files.end()) ++found->second.references;
    }
}

void ObDereferenceObject(PVOID object) {
    auto* type = static_cast<CSHORT*>(object);
    if (*type == kDeviceType) {
        auto* device = static_cast<PDEVICE_OBJECT>(object);
        bool freeNow = false;
        {
            std::lock_guard guard(IoMutex());
            const LONG left = __atomic_sub_fetch(&device->ReferenceCount, 1, __ATOMIC_SEQ_CST);
            freeNow = left == 0 && device->DeviceObjectExtension->deleted;
        }
        if (freeNow) FreeDeviceMemory(device);
        return;
    }
    if (*type != kFileType) return;
    auto* file = static_cast<PFILE_OBJECT>(object);
    {
        std::lock_guard guard(IoMutex());
        auto found = Tables().files.find(file);
        if (found == Tables().files.end() || --found->second.references > 0) return;
    }
    // The last reference often goes with a request completed at DISPATCH_LEVEL;
    // the close waits for its IRP, so it then runs in a system worker, as on the
    // platform.
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        auto& dispatcher = Dispatcher::Instance();
        std::lock_guard lock(dispatcher.mutex);
        dispatcher.QueueWork(
            {[](void* argument) { CloseAndFree(static_cast<PFILE_OBJECT>(argument)); }, file,
             file});
        return;
    }
    CloseAndFree(file);
}
