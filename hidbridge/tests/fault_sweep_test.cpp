// Each platform call the bridge makes fails once in a whole session with the
// scanner: every method still answers, and the fixture finds nothing leaked,
// no closed or unknown handle used and no contract broken.
#include "com_support.h"

namespace hidbridge::test {
namespace {

using win32sim::Call;

using FaultSweepTest = HidPortTest;

TEST_F(FaultSweepTest, EveryFailingCallLeavesAConsistentInstance) {
    const Call calls[] = {
        Call::SetupDiGetClassDevs,
        Call::SetupDiGetDeviceInterfaceDetail,
        Call::CreateFile,
        Call::HidD_GetAttributes,
        Call::HidD_GetPreparsedData,
        Call::HidP_GetCaps,
        Call::HidD_SetFeature,
        Call::HidD_GetFeature,
        Call::ReadFile,
        Call::WriteFile,
        Call::WaitForSingleObject,
        Call::CreateEvent,
    };
    for (Call call : calls) {
        SCOPED_TRACE(static_cast<int>(call));
        win32sim::DeviceId scanner = win32sim::AddHidDevice(Scanner(0, 3, 3, 3));
        win32sim::FailCalls(call, 1);
        ComPtr<_HidPort> port = CreatePort();
        CallFindTheHid(*port.Get());
        for (int round = 0; round < 2; ++round) {
            win32sim::QueueInputReport(scanner, {0, 1, 2});
            CallReadData(*port.Get(), 1);
            win32sim::QueueInputReport(scanner, {0, 3, 4});
            CallReadDataDirect(*port.Get());
            CallWriteData(*port.Get(), "0102");
            CallSendFeature(*port.Get(), "AB");
            CallGetFeature(*port.Get());
        }
        // Once the fault is spent a new search gives a working instance
        // (a failed capability query leaves the lengths unknown until then).
        win32sim::RemoveHidDevice(scanner);
        win32sim::DeviceId fresh = win32sim::AddHidDevice(Scanner(0, 3, 3, 3));
        EXPECT_TRUE(CallFindTheHid(*port.Get()));
        win32sim::QueueInputReport(fresh, {0, 5, 6});
        EXPECT_EQ(CallReadData(*port.Get(), 1).text, "0506");
        EXPECT_EQ(CallWriteData(*port.Get(), "0102").text, "0102");
        SetErrorInfo(0, nullptr);
        port.Reset();
        win32sim::RemoveHidDevice(fresh);
        EXPECT_EQ(win32sim::OpenHandleCount(), 0);
        EXPECT_EQ(win32sim::PendingReadCount(), 0);
        EXPECT_TRUE(win32sim::Violations().empty()) << win32sim::Violations().front();
    }
}

}  // namespace
}  // namespace hidbridge::test
