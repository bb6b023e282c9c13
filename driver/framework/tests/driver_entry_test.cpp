// Entry and unload of the driver, the dispatcher, device creation and the
// AddDevice contract.
#include <gmock/gmock.h>

#include "driver_fixture.h"
#include "framework/global_mutex.h"
#include "sim/faults.h"
#include "sim/verifier.h"

namespace framework {
namespace {

using testing::DriverTest;
using testing::QueueDevice;
using testing::TestFunctionDevice;

struct OsLevelCase {
    UCHAR wdmMajor;
    UCHAR wdmMinor;
    const char16_t* serviceKey;
    ULONG osLevel;
};

TEST_F(DriverTest, OsLevelFollowsTheFirstWdmVersionTheSystemOffers) {
    constexpr OsLevelCase kCases[] = {
        {6, 0x00, testing::kServiceKey, 7},
        {1, 0x30, testing::kServiceKey, 6},
        {1, 0x20, testing::kServiceKey, 5},
        {1, 0x10, testing::kServiceKey, 4},
        {1, 0x05, testing::kServiceKey, 2},
        {1, 0x00, testing::kServiceKey, 1},
        {1, 0x00, u"", 0},
    };
    for (const OsLevelCase& c : kCases) {
        SCOPED_TRACE(c.osLevel);
        sim::SetWdmVersion(c.wdmMajor, c.wdmMinor);
        ASSERT_EQ(LoadFramework(c.serviceKey), STATUS_SUCCESS);
        EXPECT_EQ(OsLevel, c.osLevel);
        EXPECT_EQ(IsLegacyOs, c.osLevel <= 2);
        UnloadFramework();
    }
}

TEST_F(DriverTest, EntrySetsUpTheDriverWideData) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    EXPECT_EQ(driver_->DriverUnload, &DriverUnload);
    EXPECT_EQ(driver_->DriverExtension->AddDevice, &AddDevice);
    for (PDRIVER_DISPATCH entry : driver_->MajorFunction) EXPECT_EQ(entry, &Dispatch);
    EXPECT_EQ(ServiceKeyPath.Compare(testing::kServiceKey, false), 0);
    EXPECT_EQ(FiveTicksInMilliseconds, 75u);  // 15.625 ms ticks: 15 ms, five times
    EXPECT_EQ(VirtualPortCounter, -1);
    EXPECT_EQ(UseVirtualPorts, 1u);  // no service key
    GlobalMutex().Acquire();
    GlobalMutex().Acquire();
    EXPECT_TRUE(GlobalMutex().IsOwnedByCurrentThread());
    GlobalMutex().Release();
    GlobalMutex().Release();
    UnloadFramework();
    EXPECT_EQ(ServiceKeyPath.Text(), nullptr);

    sim::SetTimeIncrement(100000);  // 10 ms ticks
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    EXPECT_EQ(FiveTicksInMilliseconds, 50u);
}

TEST_F(DriverTest, UseVirtualPortsComesFromADwordInTheServiceKey) {
    struct Case {
        ULONG type;
        std::vector<UCHAR> data;
        ULONG expected;
    };
    const Case kCases[] = {
        {REG_DWORD, {0, 0, 0, 0}, 0},
        {REG_DWORD, {2, 0, 0, 0}, 2},
        {REG_SZ, {u'0', 0, 0, 0}, 1},  // another type keeps the default
        {REG_BINARY, {0, 0}, 1},
    };
    for (const Case& c : kCases) {
        sim::registry::SetValue(testing::kServiceKey, u"UseVirtualPorts", c.type, c.data);
        ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
        EXPECT_EQ(UseVirtualPorts, c.expected);
        UnloadFramework();
    }
    (void)sim::registry::DeleteValue(testing::kServiceKey, u"UseVirtualPorts");
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    EXPECT_EQ(UseVirtualPorts, 1u);
}

TEST_F(DriverTest, FailingEachAllocationOfTheEntryUnloadsCleanly) {
    sim::ClearFaults();
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    UnloadFramework();
    const auto calls = sim::AllocationCalls(sim::FaultSite::Pool, kPoolTag);
    ASSERT_GE(calls, 3u);  // two exit entries and the service key path
    for (std::uint64_t nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(nth);
        sim::ClearFaults();
        sim::AddFault({.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = nth});
        const NTSTATUS status = LoadFramework();
        EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INSUFFICIENT_RESOURCES) << status;
        if (status == STATUS_SUCCESS) UnloadFramework();
        driver_ = nullptr;
        EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, 0u);
    }
}

TEST_F(DriverTest, UnhandledMajorFunctionsCompleteWithNotSupported) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    ASSERT_EQ(driver_->DriverExtension->AddDevice(driver_, CreatePhysicalDevice()), STATUS_SUCCESS);
    PDEVICE_OBJECT device = TestFunctionDevice::last->DeviceObject();
    for (UCHAR major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        SCOPED_TRACE(major);
        PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
        ASSERT_NE(irp, nullptr);
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP completed, PVOID context) -> NTSTATUS {
                KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
                (void)completed;
                return STATUS_MORE_PROCESSING_REQUIRED;
            },
            &done, TRUE, TRUE, TRUE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = major;
        EXPECT_EQ(IoCallDriver(device, irp), STATUS_NOT_SUPPORTED);
        EXPECT_EQ(irp->IoStatus.Status, STATUS_NOT_SUPPORTED);
        IoFreeIrp(irp);
    }
}

TEST_F(DriverTest, AddDeviceAttachesAndEveryFailureDestroysWhatWasBuilt) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    PDEVICE_OBJECT pdo = CreatePhysicalDevice();
    ASSERT_EQ(driver_->DriverExtension->AddDevice(driver_, pdo), STATUS_SUCCESS);
    TestFunctionDevice* device = TestFunctionDevice::last;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->LowerDevice(), pdo);
    EXPECT_EQ(pdo->AttachedDevice, device->DeviceObject());
    EXPECT_EQ(device->DeviceObject()->Flags & DO_DEVICE_INITIALIZING, 0u);
    EXPECT_NE(device->DeviceObject()->Flags & DO_POWER_PAGABLE, 0u);
    EXPECT_EQ(device->State(), PnpState::NotStarted);
    EXPECT_EQ(device->DevicePowerState(), PowerDeviceD0);
    EXPECT_EQ(device->SystemPowerState(), PowerSystemWorking);
    EXPECT_TRUE(device->SurpriseRemovalOk());
    EXPECT_FALSE(device->EverStarted());
    EXPECT_EQ(device->Queue(0)->StallCount(), 1);
    delete device;  // detaches and deletes the device object
    EXPECT_EQ(pdo->AttachedDevice, nullptr);
    EXPECT_EQ(driver_->DeviceObject, nullptr);

    struct Case {
        const char* what;
        NTSTATUS raiseInConstructor;
        NTSTATUS initializeStatus;
        sim::FaultRule fault;
    };
    const Case kCases[] = {
        {"constructor raises", STATUS_INSUFFICIENT_RESOURCES, STATUS_SUCCESS, {}},
        {"Initialize fails", STATUS_SUCCESS, STATUS_DEVICE_CONFIGURATION_ERROR, {}},
        {"no work item for the queue",
         STATUS_SUCCESS,
         STATUS_SUCCESS,
         {.site = sim::FaultSite::WorkItem, .nth = 1}},
        {"no queue array",
         STATUS_SUCCESS,
         STATUS_SUCCESS,
         {.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = 1}},
    };
    const size_t driverBlocks = sim::PoolInUse(kPoolTag).blocks;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TestFunctionDevice::raiseInConstructor = c.raiseInConstructor;
        TestFunctionDevice::initializeStatus = c.initializeStatus;
        sim::ClearFaults();
        if (c.fault.nth != 0) sim::AddFault(c.fault);
        const NTSTATUS status = driver_->DriverExtension->AddDevice(driver_, pdo);
        sim::ClearFaults();
        EXPECT_FALSE(NT_SUCCESS(status));
        EXPECT_EQ(TestFunctionDevice::last, nullptr);
        EXPECT_EQ(driver_->DeviceObject, nullptr);
        EXPECT_EQ(pdo->AttachedDevice, nullptr);
        EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, driverBlocks);
    }
}

TEST_F(DriverTest, DeviceCreationRaisesTheIoCreateDeviceStatus) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    QueueDevice* first = CreateQueueDevice(1, StartPolicy::Dpc, u"\\Device\\ZovTwice");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(sim::DeviceName(first->DeviceObject()), u"\\Device\\ZovTwice");
    CountedString name(u"\\Device\\ZovTwice");
    try {
        (void)CreateDeviceObject(sizeof(QueueDevice), driver_, name, FILE_DEVICE_UNKNOWN, 0);
        ADD_FAILURE() << "no status was raised";
    } catch (const kernel::StatusException& raised) {
        EXPECT_EQ(raised.Status(), STATUS_OBJECT_NAME_COLLISION);
    }
    QueueDevice* unnamed = nullptr;  // an empty name makes an unnamed device
    ASSERT_EQ(CreateDeviceAndInitialize(&unnamed, driver_, CountedString(), FILE_DEVICE_UNKNOWN, 0,
                                        1u, StartPolicy::Dpc),
              STATUS_SUCCESS);
    EXPECT_EQ(sim::DeviceName(unnamed->DeviceObject()), u"");
    EXPECT_EQ(unnamed->DeviceName().LengthInCharacters(), 0u);
}

TEST_F(DriverTest, UnloadDeletesEverythingAndThoseAskingFirstGoFirst) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    PDEVICE_OBJECT pdo = CreatePhysicalDevice();
    ASSERT_EQ(driver_->DriverExtension->AddDevice(driver_, pdo), STATUS_SUCCESS);
    QueueDevice* early = CreateQueueDevice(2, StartPolicy::Passive, u"\\Device\\ZovEarly");
    QueueDevice* late = CreateQueueDevice(1, StartPolicy::Dpc, u"\\Device\\ZovLate");
    ASSERT_NE(early, nullptr);
    ASSERT_NE(late, nullptr);
    early->deleteFirst = true;
    EXPECT_EQ(early->CreateLink(u"\\DosDevices\\ZOV1"), STATUS_SUCCESS);
    EXPECT_EQ(sim::SymbolicLinks().size(), 1u);
    (void)new testing::RecordingHolder;  // left to the exit list
    EXPECT_EQ(late->RequestGiveUp(0), STATUS_SUCCESS);
    QueueDevice::deleted.clear();

    UnloadFramework();
    EXPECT_THAT(QueueDevice::deleted,
                ::testing::ElementsAre(u"\\Device\\ZovEarly", u"\\Device\\ZovLate"));
    EXPECT_EQ(pdo->AttachedDevice, nullptr);
    IoDeleteDevice(pdo);
    EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, 0u);
    EXPECT_EQ(sim::VerifyNoLeaks(), 0u);
}

TEST_F(DriverTest, UnloadWithoutDevicesOnlyRunsTheExitList) {
    ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    EXPECT_GT(sim::PoolInUse(kPoolTag).blocks, 0u);
    UnloadFramework();
    EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, 0u);
}

}  // namespace
}  // namespace framework
