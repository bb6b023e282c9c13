// Error-log entries, symbolic links and the IRP and MDL helpers.
#include <gmock/gmock.h>

#include <string>

#include "framework/error_log.h"
#include "framework/irp_helpers.h"
#include "framework/symbolic_link.h"
#include "framework_fixture.h"

namespace framework {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using IoHelpersTest = testing::FrameworkTest;

constexpr NTSTATUS kSymbolicLinkFailed = static_cast<NTSTATUS>(0xE0060001);
constexpr NTSTATUS kPortNameMissing = static_cast<NTSTATUS>(0xE0060002);

TEST_F(IoHelpersTest, ErrorLogEntriesCarryTheCodeAndTheText) {
    WriteErrorLog(Device(), kPortNameMissing);
    WriteErrorLog(Device(), kSymbolicLinkFailed, u"COM5");
    const std::u16string longest(51, u'x');  // 50 + 102 = 152 bytes: the largest entry
    WriteErrorLog(Device(), kSymbolicLinkFailed, longest.c_str());
    const std::u16string tooLong(52, u'y');  // 154 bytes: nothing is logged
    WriteErrorLog(Device(), kSymbolicLinkFailed, tooLong.c_str());

    const auto entries = sim::ErrorLogEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].errorCode, kPortNameMissing);
    EXPECT_EQ(entries[0].ioObject, Device());
    EXPECT_THAT(entries[0].strings, IsEmpty());
    EXPECT_EQ(entries[0].uniqueErrorValue, 0u);
    EXPECT_EQ(entries[1].errorCode, kSymbolicLinkFailed);
    EXPECT_THAT(entries[1].strings, ElementsAre(u"COM5"));
    EXPECT_THAT(entries[2].strings, ElementsAre(longest));
}

TEST_F(IoHelpersTest, SymbolicLinkIsDeletedOnlyWhenThisObjectCreatedIt) {
    UNICODE_STRING target = RTL_CONSTANT_STRING(u"\\Device\\ZOVUSBVirtualPort000");
    {
        SymbolicLink link;
        ASSERT_EQ(link.Create(u"\\DosDevices\\COM5", &target), STATUS_SUCCESS);
        EXPECT_TRUE(link.IsCreated());
        ASSERT_EQ(sim::SymbolicLinks().size(), 1u);

        SymbolicLink clash;  // the name is taken: its destruction must leave the link
        EXPECT_FALSE(NT_SUCCESS(clash.Create(u"\\DosDevices\\COM5", &target)));
        EXPECT_FALSE(clash.IsCreated());
    }
    EXPECT_THAT(sim::SymbolicLinks(), IsEmpty());

    SymbolicLink link;
    ASSERT_EQ(link.Create(u"\\DosDevices\\COM6", &target), STATUS_SUCCESS);
    link.Delete();
    EXPECT_FALSE(link.IsCreated());
    EXPECT_THAT(sim::SymbolicLinks(), IsEmpty());
    link.Delete();  // twice is harmless
}

TEST_F(IoHelpersTest, SystemAddressMapsWhenNeededAndRestoresTheFlags) {
    EXPECT_EQ(SystemAddress(nullptr), nullptr);

    alignas(16) static UCHAR buffer[64];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    ASSERT_NE(mdl, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoWriteAccess);
    const CSHORT before = mdl->MdlFlags;
    EXPECT_EQ((before & MDL_MAPPING_CAN_FAIL), 0);
    EXPECT_EQ(SystemAddress(mdl), buffer);
    EXPECT_EQ(mdl->MdlFlags & MDL_MAPPING_CAN_FAIL, 0);
    EXPECT_NE(mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA, 0);
    EXPECT_EQ(SystemAddress(mdl), buffer);  // now from MappedSystemVa
    MmUnmapLockedPages(mdl->MappedSystemVa, mdl);
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
}

TEST_F(IoHelpersTest, CompleteFillsTheStatusBlock) {
    driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT, PIRP irp) {
        return Complete(irp, STATUS_SUCCESS, 7);
    };
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp =
        IoBuildDeviceIoControlRequest(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, 0),
                                      Device(), nullptr, 0, nullptr, 0, FALSE, &event, &status);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoCallDriver(Device(), irp), STATUS_SUCCESS);
    EXPECT_EQ(status.Status, STATUS_SUCCESS);
    EXPECT_EQ(status.Information, 7u);
}

TEST_F(IoHelpersTest, PassDownHandsTheRequestToTheLowerDevice) {
    PDEVICE_OBJECT bottom = Device();  // before a new device heads the driver's list
    PDEVICE_OBJECT upper = nullptr;
    ASSERT_EQ(IoCreateDevice(driver_, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_UNKNOWN, 0,
                             FALSE, &upper),
              STATUS_SUCCESS);
    bottom->Flags &= ~DO_DEVICE_INITIALIZING;
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(upper, bottom);
    ASSERT_EQ(lower, bottom);
    *static_cast<PDEVICE_OBJECT*>(upper->DeviceExtension) = lower;
    upper->Flags &= ~DO_DEVICE_INITIALIZING;
    driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT device, PIRP irp) {
        if (device->AttachedDevice == nullptr) {  // the upper device
            return PassDown(irp, *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension));
        }
        return Complete(irp, STATUS_NOT_SUPPORTED, 3);
    };
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp =
        IoBuildDeviceIoControlRequest(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, 0),
                                      upper, nullptr, 0, nullptr, 0, FALSE, &event, &status);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoCallDriver(upper, irp), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(status.Status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(status.Information, 3u);
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
}

}  // namespace
}  // namespace framework
