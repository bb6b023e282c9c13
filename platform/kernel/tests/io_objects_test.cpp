// Device objects and their names, symbolic links, device interfaces, I/O work
// items, the error log and the per-test system queries.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/io.h"
#include "sim/irp_log.h"
#include "sim/system.h"
#include "sim/verifier.h"
#include "test_driver.h"

namespace {

using kernel_test::TestDriver;
using kernel_test::Unicode;

class IoObjectsTest : public ::testing::Test {
  protected:
    sim::System system;
    TestDriver driver;
};

TEST_F(IoObjectsTest, NamedDevicesAndLinksResolveThroughEveryAlias) {
    PDEVICE_OBJECT device = driver.CreateDevice({}, u"\\Device\\Sample0");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(driver.CreateDevice({}, u"\\device\\SAMPLE0"), nullptr);  // collision, any case
    EXPECT_NE(device->Flags & DO_DEVICE_HAS_NAME, 0u);

    UNICODE_STRING link = Unicode(u"\\DosDevices\\COM7");
    UNICODE_STRING target = Unicode(u"\\Device\\Sample0");
    EXPECT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
    UNICODE_STRING sameLink = Unicode(u"\\??\\com7");
    EXPECT_EQ(IoCreateSymbolicLink(&sameLink, &target), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(sim::FindDevice(u"\\??\\COM7"), device);
    EXPECT_EQ(sim::FindDevice(u"\\GLOBAL??\\com7"), device);
    EXPECT_EQ(sim::FindDevice(u"\\??\\COM8"), nullptr);
    ASSERT_EQ(sim::SymbolicLinks().size(), 1u);
    EXPECT_EQ(sim::SymbolicLinks()[0].target, u"\\Device\\Sample0");

    EXPECT_EQ(IoDeleteSymbolicLink(&sameLink), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(sim::FindDevice(u"\\??\\COM7"), nullptr);
}

TEST_F(IoObjectsTest, StacksAttachOnTopAndReferencesKeepDeletedDevicesAlive) {
    PDEVICE_OBJECT bottom = driver.CreateDevice();
    PDEVICE_OBJECT middle = driver.CreateFilter(bottom);
    PDEVICE_OBJECT top = driver.CreateFilter(bottom);  // attaches to the top: middle
    EXPECT_EQ(kernel_test::Extension(middle).lower, bottom);
    EXPECT_EQ(kernel_test::Extension(top).lower, middle);
    EXPECT_EQ(top->StackSize, 3);
    PDEVICE_OBJECT reference = IoGetAttachedDeviceReference(bottom);
    EXPECT_EQ(reference, top);
    TestDriver::DeleteDevice(top);
    EXPECT_EQ(IoGetAttachedDevice(bottom), middle);
    EXPECT_EQ(reference->ReferenceCount, 1);  // memory still there until dereferenced
    ObDereferenceObject(reference);
}

TEST_F(IoObjectsTest, DeviceInterfacesAreVisibleAndOpenTheirPhysicalDeviceWhenEnabled) {
    PDEVICE_OBJECT pdo = driver.CreateDevice();
    const GUID serialPorts = {
        0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
    UNICODE_STRING linkName{};
    ASSERT_EQ(IoRegisterDeviceInterface(pdo, &serialPorts, nullptr, &linkName), STATUS_SUCCESS);
    const std::u16string link(linkName.Buffer, linkName.Length / sizeof(WCHAR));
    EXPECT_NE(link.find(u"{86e0d1e0-8089-11d0-9ce4-08003e301f73}"), std::u16string::npos);
    ASSERT_EQ(sim::DeviceInterfaces().size(), 1u);
    EXPECT_FALSE(sim::DeviceInterfaces()[0].enabled);
    EXPECT_EQ(sim::FindDevice(link), nullptr);

    EXPECT_EQ(IoSetDeviceInterfaceState(&linkName, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&linkName, TRUE), STATUS_OBJECT_NAME_EXISTS);
    EXPECT_TRUE(sim::DeviceInterfaces()[0].enabled);
    EXPECT_EQ(sim::DeviceInterfaces()[0].physicalDevice, pdo);
    EXPECT_EQ(sim::FindDevice(link), pdo);
    EXPECT_EQ(IoSetDeviceInterfaceState(&linkName, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(sim::FindDevice(link), nullptr);
    ExFreePool(linkName.Buffer);
}

struct WorkRecord {
    KIRQL irql = HIGH_LEVEL;
    PDEVICE_OBJECT device = nullptr;
    LONG references = 0;
    bool workerThread = false;
    PKTHREAD queuer = nullptr;
};

TEST_F(IoObjectsTest, WorkItemsRunAtPassiveLevelInAWorkerHoldingTheirDevice) {
    PDEVICE_OBJECT device = driver.CreateDevice();
    PIO_WORKITEM item = IoAllocateWorkItem(device);
    ASSERT_NE(item, nullptr);
    WorkRecord record;
    record.queuer = KeGetCurrentThread();
    KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);  // queued from DISPATCH_LEVEL
    IoQueueWorkItem(
        item,
        [](PDEVICE_OBJECT workDevice, PVOID context) {
            auto* r = static_cast<WorkRecord*>(context);
            r->irql = KeGetCurrentIrql();
            r->device = workDevice;
            r->references = workDevice->ReferenceCount;
            r->workerThread = KeGetCurrentThread() != r->queuer;
        },
        DelayedWorkQueue, &record);
    KfLowerIrql(old);
    sim::Settle();
    EXPECT_EQ(record.irql, PASSIVE_LEVEL);
    EXPECT_EQ(record.device, device);
    EXPECT_EQ(record.references, 1);
    EXPECT_TRUE(record.workerThread);
    EXPECT_EQ(device->ReferenceCount, 0);
    IoFreeWorkItem(item);
}

TEST_F(IoObjectsTest, ErrorLogEntriesAreParsedWithinTheirSize) {
    PDEVICE_OBJECT device = driver.CreateDevice();
    EXPECT_EQ(IoAllocateErrorLogEntry(device, ERROR_LOG_MAXIMUM_SIZE + 1), nullptr);
    const std::u16string text = u"COM7";
    const auto size = static_cast<UCHAR>(sizeof(IO_ERROR_LOG_PACKET) + (text.size() + 1) * 2);
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(device, size));
    ASSERT_NE(packet, nullptr);
    packet->ErrorCode = static_cast<NTSTATUS>(0xE0060001);
    packet->NumberOfStrings = 1;
    packet->StringOffset = sizeof(IO_ERROR_LOG_PACKET);
    std::memcpy(reinterpret_cast<char*>(packet) + packet->StringOffset, text.c_str(),
                (text.size() + 1) * 2);
    IoWriteErrorLogEntry(packet);

    // An unterminated string and a string offset beyond the entry stay inside it.
    auto* unterminated = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(device, sizeof(IO_ERROR_LOG_PACKET) + 4));
    unterminated->NumberOfStrings = 3;
    unterminated->StringOffset = sizeof(IO_ERROR_LOG_PACKET);
    std::memcpy(reinterpret_cast<char*>(unterminated) + sizeof(IO_ERROR_LOG_PACKET), u"AB", 4);
    IoWriteErrorLogEntry(unterminated);
    auto* beyond = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(device, sizeof(IO_ERROR_LOG_PACKET)));
    beyond->NumberOfStrings = 1;
    beyond->StringOffset = 0xFFFF;
    beyond->DumpDataSize = 0xFFFF;
    IoWriteErrorLogEntry(beyond);

    const auto entries = sim::ErrorLogEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(static_cast<ULONG>(entries[0].errorCode), 0xE0060001u);
    EXPECT_EQ(entries[0].ioObject, device);
    EXPECT_EQ(entries[0].strings, std::vector<std::u16string>{u"COM7"});
    EXPECT_EQ(entries[1].strings, std::vector<std::u16string>{u"AB"});
    EXPECT_TRUE(entries[2].strings.empty());
    EXPECT_EQ(entries[2].dumpData.size(), 8u);  // to the end of the entry
}

TEST_F(IoObjectsTest, DeviceObjectPointerOpensAndItsLastReferenceCloses) {
    // Reads fill the MDL of a direct-I/O device.
    PDEVICE_OBJECT device = driver.CreateDevice(
        [](PDEVICE_OBJECT, PIRP irp) {
            ULONG_PTR information = 0;
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_READ) {
                auto* buffer = static_cast<char*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, 0));
                information = MmGetMdlByteCount(irp->MdlAddress);
                std::memset(buffer, 'r', information);
            }
            return kernel_test::CompleteIrp(irp, STATUS_SUCCESS, information);
        },
        u"\\Device\\Direct0", DO_DIRECT_IO);
    sim::EnableIrpLog(true);
    UNICODE_STRING name = Unicode(u"\\Device\\Direct0");
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT target = nullptr;
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, 0, &file, &target), STATUS_SUCCESS);
    EXPECT_EQ(target, device);
    EXPECT_EQ(file->DeviceObject, device);
    EXPECT_EQ(file->FileName.Length, 0);
    ObDereferenceObject(file);

    // What follows the device's name is the file name, in the caller's case.
    UNICODE_STRING link = Unicode(u"\\DosDevices\\DIRECT");
    ASSERT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
    UNICODE_STRING withFile = Unicode(u"\\??\\direct\\Sub\\File");
    ASSERT_EQ(IoGetDeviceObjectPointer(&withFile, 0, &file, &target), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(file->FileName.Buffer, file->FileName.Length / 2), u"\\Sub\\File");
    IoDeleteSymbolicLink(&link);

    char buffer[5] = {};
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER offset{};
    PIRP irp =
        IoBuildSynchronousFsdRequest(IRP_MJ_READ, target, buffer, 4, &offset, &event, &status);
    EXPECT_EQ(IoCallDriver(target, irp), STATUS_SUCCESS);
    EXPECT_EQ(status.Information, 4u);
    EXPECT_EQ(std::string(buffer), "rrrr");

    ObDereferenceObject(file);
    std::string majors;
    for (const auto& entry : sim::IrpLogEntries()) {
        if (entry.kind == sim::IrpLogEntry::Kind::Dispatch) {
            majors += std::to_string(entry.majorFunction) + " ";
        }
    }
    EXPECT_EQ(majors, "0 18 2 0 18 3 2 ");  // create, cleanup, close; again with a read
}

TEST_F(IoObjectsTest, SystemQueriesAnswerAsConfiguredForTheTest) {
    UNICODE_STRING name = Unicode(u"KefAcquireSpinLockAtDpcLevel");
    EXPECT_EQ(MmGetSystemRoutineAddress(&name),
              reinterpret_cast<PVOID>(&KefAcquireSpinLockAtDpcLevel));
    UNICODE_STRING missing = Unicode(u"NoSuchRoutine");
    EXPECT_EQ(MmGetSystemRoutineAddress(&missing), nullptr);
    sim::SetSystemRoutineAvailable(u"KefAcquireSpinLockAtDpcLevel", false);
    EXPECT_EQ(MmGetSystemRoutineAddress(&name), nullptr);

    EXPECT_TRUE(IoIsWdmVersionAvailable(6, 0));
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x30));
    sim::SetWdmVersion(1, 0x10);
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x05));
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x20));
    EXPECT_FALSE(IoIsWdmVersionAvailable(6, 0));

    EXPECT_EQ(MmQuerySystemSize(), MmLargeSystem);
    sim::SetSystemSize(MmSmallSystem);
    EXPECT_EQ(MmQuerySystemSize(), MmSmallSystem);
}

}  // namespace
