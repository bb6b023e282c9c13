// FindTheHid, Shutdown and the instance's handles over its lifetime.
#include <vector>

#include "com_support.h"

namespace hidbridge::test {
namespace {

using win32sim::Call;
using win32sim::HidDeviceDescription;

HidDeviceDescription Device(std::uint16_t vendorId, std::uint16_t productId) {
    HidDeviceDescription description;
    description.vendorId = vendorId;
    description.productId = productId;
    description.inputReportLength = 2;
    description.outputReportLength = 3;
    description.featureReportLength = 4;
    return description;
}

using DiscoveryTest = HidPortTest;

TEST_F(DiscoveryTest, MatchesVendorAndProductAsPairsAndTakesTheFirstMatch) {
    static_assert(ScannerIdPairs[0].vendorId != ScannerIdPairs[1].vendorId,
                  "the crossed-pair case needs two different vendor ids");
    const std::uint16_t vendor1 = ScannerIdPairs[0].vendorId,
                        product1 = ScannerIdPairs[0].productId;
    const std::uint16_t vendor2 = ScannerIdPairs[1].vendorId,
                        product2 = ScannerIdPairs[1].productId;
    const struct {
        const char* what;
        std::vector<HidDeviceDescription> devices;
        int expected;  // index of the device taken, -1 for none
    } cases[] = {
        {"no device", {}, -1},
        {"another device", {Device(0x046D, 0xC077)}, -1},
        {"crossed pair", {Device(vendor1, product2), Device(vendor2, product1)}, -1},
        {"first pair", {Device(0x046D, 0xC077), Device(vendor1, product1)}, 1},
        {"second pair", {Device(vendor2, product2)}, 0},
        {"two scanners", {Device(vendor2, product2), Device(vendor1, product1)}, 0},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        std::vector<win32sim::DeviceId> ids;
        for (const auto& device : entry.devices) ids.push_back(win32sim::AddHidDevice(device));
        ComPtr<_HidPort> first = CreatePort();
        ComPtr<_HidPort> second = CreatePort();
        EXPECT_EQ(CallFindTheHid(*first.Get()), entry.expected >= 0);
        EXPECT_EQ(CallFindTheHid(*second.Get()), entry.expected >= 0);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            // Both instances hold the taken device twice (synchronous and overlapped).
            int held = static_cast<int>(i) == entry.expected ? 4 : 0;
            EXPECT_EQ(win32sim::OpenHandleCount(ids[i]), held) << "device " << i;
        }
        first.Reset();
        second.Reset();
        for (win32sim::DeviceId id : ids) win32sim::RemoveHidDevice(id);
    }
}

TEST_F(DiscoveryTest, ADeviceThatCannotBeOpenedOrAskedIsSkipped) {
    const struct {
        const char* what;
        Call call;
    } cases[] = {
        {"open fails", Call::CreateFile},
        {"attributes fail", Call::HidD_GetAttributes},
        {"interface detail fails", Call::SetupDiGetDeviceInterfaceDetail},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        win32sim::DeviceId skipped = win32sim::AddHidDevice(Scanner(0, 2, 3, 4));
        win32sim::DeviceId taken = win32sim::AddHidDevice(Scanner(1, 2, 3, 4));
        win32sim::FailCalls(entry.call, 1, skipped);
        ComPtr<_HidPort> port = CreatePort();
        EXPECT_TRUE(CallFindTheHid(*port.Get()));
        EXPECT_EQ(win32sim::OpenHandleCount(skipped), 0);
        EXPECT_EQ(win32sim::OpenHandleCount(taken), 2);
        port.Reset();
        win32sim::RemoveHidDevice(skipped);
        win32sim::RemoveHidDevice(taken);
    }
    // Without a device-information set nothing is found, and nothing is left open.
    win32sim::FailCalls(Call::SetupDiGetClassDevs);
    ComPtr<_HidPort> port = CreatePort();
    EXPECT_FALSE(CallFindTheHid(*port.Get()));
}

TEST_F(DiscoveryTest, ARepeatedSearchReplacesTheHandlesOfTheEarlierOne) {
    win32sim::DeviceId scanner = win32sim::AddHidDevice(Scanner(0, 2, 3, 4));
    ComPtr<_HidPort> port = CreatePort();
    EXPECT_TRUE(CallFindTheHid(*port.Get()));
    EXPECT_TRUE(CallFindTheHid(*port.Get()));
    EXPECT_EQ(win32sim::OpenCount(scanner), 4) << "the second search opens new handles";
    EXPECT_EQ(win32sim::OpenHandleCount(scanner), 2) << "and closes the earlier ones";

    win32sim::RemoveHidDevice(scanner);
    EXPECT_FALSE(CallFindTheHid(*port.Get()));
    EXPECT_EQ(win32sim::OpenHandleCount(scanner), 0);
}

TEST_F(DiscoveryTest, AfterShutdownTheNextCallSearchesAgain) {
    win32sim::DeviceId scanner = win32sim::AddHidDevice(Scanner(0, 3, 3, 4));
    ComPtr<_HidPort> port = CreatePort();
    ASSERT_TRUE(CallFindTheHid(*port.Get()));
    ASSERT_EQ(port->Shutdown(), S_OK);
    EXPECT_EQ(win32sim::OpenHandleCount(scanner), 0);

    win32sim::QueueInputReport(scanner, {0, 0x12, 0x34});
    EXPECT_EQ(CallReadData(*port.Get(), 1).text, "1234");
    EXPECT_EQ(win32sim::OpenCount(scanner), 4);

    // Gone at the next search: ReadData gives the empty text, the others fail
    // with error information instead of using stale report lengths.
    ASSERT_EQ(port->Shutdown(), S_OK);
    win32sim::RemoveHidDevice(scanner);
    EXPECT_EQ(CallReadData(*port.Get(), 1).hr, S_OK);
    EXPECT_EQ(CallReadData(*port.Get(), 1).text, "");
    EXPECT_EQ(CallGetFeature(*port.Get()).hr, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0303));
    EXPECT_EQ(CallWriteData(*port.Get(), "01").hr,
              MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0302));
    EXPECT_EQ(CallReadDataDirect(*port.Get()).hr,
              MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0301));
    EXPECT_EQ(win32sim::WrittenOutputReports(scanner).size(), 0u);
}

TEST_F(DiscoveryTest, ReleasingAnInstanceClosesWhatItHolds) {
    win32sim::AddHidDevice(Scanner(0, 2, 3, 4));
    ComPtr<_HidPort> port = CreatePort();
    ASSERT_TRUE(CallFindTheHid(*port.Get()));
    EXPECT_EQ(win32sim::OpenHandleCount(), 3) << "two device handles and the read event";
    port.Reset();
    EXPECT_EQ(win32sim::OpenHandleCount(), 0);
}

TEST_F(DiscoveryTest, FailedCapabilityQueryLeavesNoReportToExchange) {
    win32sim::AddHidDevice(Scanner(0, 2, 3, 4));
    win32sim::FailCalls(Call::HidP_GetCaps);
    ComPtr<_HidPort> port = CreatePort();
    EXPECT_TRUE(CallFindTheHid(*port.Get()));
    EXPECT_EQ(CallGetFeature(*port.Get()).hr, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0303));
    EXPECT_EQ(CallReadData(*port.Get(), 0).text, "");
}

}  // namespace
}  // namespace hidbridge::test
