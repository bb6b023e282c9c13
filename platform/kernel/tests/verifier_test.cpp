// Every verifier rule against a small, deliberately faulty routine: the rule
// must catch it with its own report (captured here instead of stopping).
#include <gtest/gtest.h>

#include <functional>

#include "sim/resource_check.h"
#include "sim/system.h"
#include "sim/verifier.h"
#include "test_driver.h"

namespace {

using kernel_test::CompleteIrp;
using kernel_test::SendControl;
using kernel_test::TestDriver;
using sim::Rule;

constexpr ULONG kCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x810, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kTag = 0x74736554;  // "Test"

struct Fixture {
    TestDriver& driver;
};

struct RuleCase {
    const char* name;
    Rule rule;
    std::function<void(Fixture&)> fault;
};

void RunInDpc(void (*routine)()) {
    KDPC dpc;
    KeInitializeDpc(
        &dpc, [](PKDPC, PVOID context, PVOID, PVOID) { reinterpret_cast<void (*)()>(context)(); },
        reinterpret_cast<PVOID>(routine));
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    sim::Settle();
}

void RunInWorkItem(void (*routine)()) {
    WORK_QUEUE_ITEM item;
    ExInitializeWorkItem(
        &item, [](PVOID context) { reinterpret_cast<void (*)()>(context)(); },
        reinterpret_cast<PVOID>(routine));
    ExQueueWorkItem(&item, DelayedWorkQueue);
    sim::Settle();
}

// ---- IRQL rules ----------------------------------------------------------------

void WaitWithTimeoutAtDispatch(Fixture&) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000;
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
    KfLowerIrql(old);
}

void AcquireSpinLockAboveDispatch(Fixture&) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KfRaiseIrql(PROFILE_LEVEL);
    const KIRQL fromLock = KfAcquireSpinLock(&lock);
    KefReleaseSpinLockFromDpcLevel(&lock);
    (void)fromLock;
    KfLowerIrql(old);
}

void DpcLevelLockAtPassive(Fixture&) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KefAcquireSpinLockAtDpcLevel(&lock);
    KefReleaseSpinLockFromDpcLevel(&lock);
}

void ReleaseSpinLockAboveDispatch(Fixture&) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KfAcquireSpinLock(&lock);
    (void)KfRaiseIrql(PROFILE_LEVEL);
    KfReleaseSpinLock(&lock, old);
    KfLowerIrql(old);
}

void RaiseToALowerIrql(Fixture&) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    (void)KfRaiseIrql(PASSIVE_LEVEL);
    KfLowerIrql(old);
}

void PagedPoolAtDispatch(Fixture&) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    ExFreePool(ExAllocatePoolWithTag(PagedPool, 16, kTag));
    KfLowerIrql(old);
}

void PassiveRoutineAtDispatch(Fixture&) {
    UNICODE_STRING name = kernel_test::Unicode(u"KfRaiseIrql");
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    (void)MmGetSystemRoutineAddress(&name);
    KfLowerIrql(old);
}

void CallDriverAboveDispatch(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice();
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
        nullptr, TRUE, TRUE, TRUE);
    const KIRQL old = KfRaiseIrql(PROFILE_LEVEL);
    IoCallDriver(device, irp);
    KfLowerIrql(old);
    IoFreeIrp(irp);
}

void DpcReturnsHoldingALock(Fixture&) {
    static KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    RunInDpc([] { KefAcquireSpinLockAtDpcLevel(&lock); });
}

void WorkItemReturnsAtApcLevel(Fixture&) {
    RunInWorkItem([] { (void)KfRaiseIrql(APC_LEVEL); });
}

// ---- IRP rules -------------------------------------------------------------------

void CompleteTwice(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        CompleteIrp(irp, STATUS_SUCCESS);
        return CompleteIrp(irp, STATUS_SUCCESS);
    });
    (void)SendControl(device, kCode);
}

void CompleteWithCancelRoutineSet(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP) {});
        return CompleteIrp(irp, STATUS_SUCCESS);
    });
    (void)SendControl(device, kCode);
}

void CompleteWithPendingStatus(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        CompleteIrp(irp, STATUS_PENDING);
        return STATUS_SUCCESS;
    });
    (void)SendControl(device, kCode);
}

void ReturnPendingWithoutMarking(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        CompleteIrp(irp, STATUS_SUCCESS);
        return STATUS_PENDING;
    });
    (void)SendControl(device, kCode);
}

void CompleteLaterWithoutMarking(Fixture& fixture) {
    PIRP kept = nullptr;
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        kept = irp;
        return STATUS_SUCCESS;  // neither completed nor marked pending
    });
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(kCode, device, nullptr, 0, nullptr, 0, FALSE, &event,
                                             &status);
    IoCallDriver(device, irp);
    CompleteIrp(kept, STATUS_SUCCESS);
}

void CallDriverWithAFreedIrp(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice();
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoFreeIrp(irp);
    IoCallDriver(device, irp);
}

void ForwardPastTheLastStackLocation(Fixture& fixture) {
    PDEVICE_OBJECT other = fixture.driver.CreateDevice();
    PDEVICE_OBJECT device = fixture.driver.CreateDevice([other](PDEVICE_OBJECT, PIRP irp) {
        // Not attached to `other`: the IRP has no stack location for it.
        IoCopyCurrentIrpStackLocationToNext(irp);
        const NTSTATUS status = IoCallDriver(other, irp);
        return CompleteIrp(irp, status);
    });
    (void)SendControl(device, kCode);
}

void MarkPendingAtTheTop(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice(
        [](PDEVICE_OBJECT, PIRP irp) { return CompleteIrp(irp, STATUS_SUCCESS); });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
    // The owner's completion routine runs at the top, with no location of its own.
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP irp, PVOID) -> NTSTATUS {
            IoMarkIrpPending(irp);
            return STATUS_MORE_PROCESSING_REQUIRED;
        },
        nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(device, irp);
    IoFreeIrp(irp);
}

// ---- pool and work items -------------------------------------------------------

void FreeWithTheWrongTag(Fixture&) {
    void* block = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    ExFreePoolWithTag(block, kTag + 1);
    ExFreePoolWithTag(block, kTag);
}

void FreeAWorkItemTwice(Fixture& fixture) {
    PIO_WORKITEM item = IoAllocateWorkItem(fixture.driver.CreateDevice());
    IoFreeWorkItem(item);
    IoFreeWorkItem(item);
}

// ---- lock rules ----------------------------------------------------------------

void ReleaseALockNotHeld(Fixture&) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    (void)KfRaiseIrql(DISPATCH_LEVEL);
    KfReleaseSpinLock(&lock, PASSIVE_LEVEL);
    KfLowerIrql(PASSIVE_LEVEL);
}

void AcquireASpinLockTwice(Fixture&) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KfAcquireSpinLock(&lock);
    (void)KfAcquireSpinLock(&lock);
    KfReleaseSpinLock(&lock, old);
}

void TakeTwoLocksInBothOrders(Fixture&) {
    KSPIN_LOCK first;
    KSPIN_LOCK second;
    KeInitializeSpinLock(&first);
    KeInitializeSpinLock(&second);
    KIRQL old = KfAcquireSpinLock(&first);
    KefAcquireSpinLockAtDpcLevel(&second);
    KefReleaseSpinLockFromDpcLevel(&second);
    KfReleaseSpinLock(&first, old);
    old = KfAcquireSpinLock(&second);
    KefAcquireSpinLockAtDpcLevel(&first);
    KefReleaseSpinLockFromDpcLevel(&first);
    KfReleaseSpinLock(&second, old);
}

void RaiseOutOfAWorkItem(Fixture&) {
    RunInWorkItem([] { ExRaiseStatus(STATUS_INVALID_PARAMETER); });
}

// ---- resource rules ------------------------------------------------------------

void LeakPool(Fixture&) {
    void* block = ExAllocatePoolWithTag(NonPagedPool, 24, kTag);
    sim::VerifyNoLeaks();
    ExFreePoolWithTag(block, kTag);
}

void LeakAnIrp(Fixture&) {
    PIRP irp = IoAllocateIrp(2, FALSE);
    sim::VerifyNoLeaks();
    IoFreeIrp(irp);
}

void LeakAWorkItem(Fixture& fixture) {
    PIO_WORKITEM item = IoAllocateWorkItem(fixture.driver.CreateDevice());
    sim::VerifyNoLeaks();
    IoFreeWorkItem(item);
}

void LeaveADpcQueued(Fixture&) {
    static KDPC queued;
    KeInitializeDpc(
        &queued, [](PKDPC, PVOID, PVOID, PVOID) {}, nullptr);
    // Queued from a DPC onto its own processor, it waits while the check runs.
    RunInDpc([] {
        KeInsertQueueDpc(&queued, nullptr, nullptr);
        sim::VerifyNoLeaks();
        KeRemoveQueueDpc(&queued);
    });
}

void LeaveATimerSet(Fixture&) {
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER due;
    due.QuadPart = -10000000;
    KeSetTimer(&timer, due, nullptr);
    sim::VerifyNoLeaks();
    KeCancelTimer(&timer);
}

void LeaveADevice(Fixture& fixture) {
    PDEVICE_OBJECT device = fixture.driver.CreateDevice();
    sim::VerifyNoLeaks();
    TestDriver::DeleteDevice(device);
}

void LeaveALink(Fixture&) {
    UNICODE_STRING link = kernel_test::Unicode(u"\\DosDevices\\LEFT");
    UNICODE_STRING target = kernel_test::Unicode(u"\\Device\\Nothing");
    IoCreateSymbolicLink(&link, &target);
    sim::VerifyNoLeaks();
    IoDeleteSymbolicLink(&link);
}

void LeaveARegisteredResource(Fixture&) {
    sim::RegisterResourceCheck("test handles", [] { return std::vector<std::string>{"handle 1"}; });
    sim::VerifyNoLeaks();
    sim::RegisterResourceCheck("test handles", [] { return std::vector<std::string>{}; });
}

const RuleCase kCases[] = {
    {"WaitAtRaisedIrql", Rule::WaitAtRaisedIrql, WaitWithTimeoutAtDispatch},
    {"SpinLockAboveDispatch", Rule::SpinLockAboveDispatch, AcquireSpinLockAboveDispatch},
    {"SpinLockBelowDispatch", Rule::SpinLockBelowDispatch, DpcLevelLockAtPassive},
    {"ReleaseAtWrongIrql", Rule::ReleaseAtWrongIrql, ReleaseSpinLockAboveDispatch},
    {"IrqlChangeInvalid", Rule::IrqlChangeInvalid, RaiseToALowerIrql},
    {"PagedPoolAtDispatch", Rule::PagedPoolAtDispatch, PagedPoolAtDispatch},
    {"PassiveRoutineAtDispatch", Rule::RoutineAtRaisedIrql, PassiveRoutineAtDispatch},
    {"CallDriverAboveDispatch", Rule::RoutineAtRaisedIrql, CallDriverAboveDispatch},
    {"DpcReturnedRaised", Rule::DpcReturnedRaised, DpcReturnsHoldingALock},
    {"WorkItemReturnedRaised", Rule::WorkItemReturnedRaised, WorkItemReturnsAtApcLevel},
    {"IrpCompletedTwice", Rule::IrpCompletedTwice, CompleteTwice},
    {"CompletedWithCancelRoutine", Rule::CompletedWithCancelRoutine, CompleteWithCancelRoutineSet},
    {"CompletedWithPending", Rule::CompletedWithPending, CompleteWithPendingStatus},
    {"PendingNotMarked", Rule::PendingNotMarked, ReturnPendingWithoutMarking},
    {"AsyncCompletionNotMarked", Rule::AsyncCompletionNotMarked, CompleteLaterWithoutMarking},
    {"IrpUsedAfterFree", Rule::IrpUsedAfterFree, CallDriverWithAFreedIrp},
    {"StackLocationOverflow", Rule::StackLocationOverflow, ForwardPastTheLastStackLocation},
    {"MarkPendingAtTheTop", Rule::StackLocationOverflow, MarkPendingAtTheTop},
    {"BadPoolCaller", Rule::BadPoolCaller, FreeWithTheWrongTag},
    {"WorkItemMisuse", Rule::WorkItemMisuse, FreeAWorkItemTwice},
    {"LockNotHeld", Rule::LockNotHeld, ReleaseALockNotHeld},
    {"RecursiveLock", Rule::RecursiveLock, AcquireASpinLockTwice},
    {"LockOrderInversion", Rule::LockOrderInversion, TakeTwoLocksInBothOrders},
    {"UnhandledException", Rule::UnhandledException, RaiseOutOfAWorkItem},
    {"PoolLeak", Rule::PoolLeak, LeakPool},
    {"IrpLeak", Rule::IrpLeak, LeakAnIrp},
    {"WorkItemLeak", Rule::WorkItemLeak, LeakAWorkItem},
    {"DpcStillQueued", Rule::DpcStillQueued, LeaveADpcQueued},
    {"TimerStillSet", Rule::TimerStillSet, LeaveATimerSet},
    {"DeviceLeak", Rule::DeviceLeak, LeaveADevice},
    {"SymbolicLinkLeak", Rule::SymbolicLinkLeak, LeaveALink},
    {"ResourceLeak", Rule::ResourceLeak, LeaveARegisteredResource},
};

class VerifierRuleTest : public ::testing::TestWithParam<RuleCase> {
  protected:
    sim::System system;
    TestDriver driver;
};

TEST_P(VerifierRuleTest, CatchesItsFaultWithItsReport) {
    std::vector<sim::BugCheckReport> reports;
    {
        sim::BugCheckCapture capture;
        Fixture fixture{driver};
        GetParam().fault(fixture);
        sim::Settle();
        reports = capture.Reports();
    }
    ASSERT_FALSE(reports.empty()) << "no report";
    EXPECT_EQ(reports.front().rule, GetParam().rule) << reports.front().Format();
    const std::string text = reports.front().Format();
    EXPECT_NE(text.find("BUG CHECK 0x"), std::string::npos);
    EXPECT_NE(text.find(sim::RuleName(GetParam().rule)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rules, VerifierRuleTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VerifierReportTest, NamesTheThreadIrqlIrpAndDevice) {
    sim::System system;
    TestDriver driver;
    sim::BugCheckCapture capture;
    PDEVICE_OBJECT device = driver.CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        CompleteIrp(irp, STATUS_SUCCESS);
        return STATUS_PENDING;
    });
    (void)SendControl(device, kCode);
    ASSERT_EQ(capture.Count(Rule::PendingNotMarked), 1u);
    const sim::BugCheckReport report = capture.Reports().front();
    EXPECT_EQ(report.code, 0xC9u);
    EXPECT_EQ(report.device, device);
    EXPECT_NE(report.irp, nullptr);
    EXPECT_EQ(report.irql, PASSIVE_LEVEL);
    EXPECT_NE(report.thread.find("application thread"), std::string::npos);
}

}  // namespace
