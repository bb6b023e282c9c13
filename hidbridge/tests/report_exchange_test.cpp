// The report exchange: output, feature and input reports as hexadecimal
// texts, report lengths and time-outs on the virtual clock.
#include <optional>
#include <thread>
#include <vector>

#include "com_support.h"

namespace hidbridge::test {
namespace {

using win32sim::Bytes;
using win32sim::Call;

constexpr HRESULT kNoInputReport = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0301);
constexpr HRESULT kOutputTooLong = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0304);
constexpr HRESULT kFeatureTooLong = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0305);
constexpr HRESULT kNotHexadecimal = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0306);
constexpr HRESULT kNegativeTimeout = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0307);

class ReportExchangeTest : public HidPortTest {
  protected:
    // A scanner with the given report lengths and an instance that has found it.
    void Attach(std::uint16_t input, std::uint16_t output, std::uint16_t feature) {
        scanner_ = win32sim::AddHidDevice(Scanner(0, input, output, feature));
        port_ = CreatePort();
        ASSERT_TRUE(CallFindTheHid(*port_.Get()));
    }
    void TearDown() override {
        port_.Reset();
        HidPortTest::TearDown();
    }
    _HidPort& Port() { return *port_.Get(); }

    win32sim::DeviceId scanner_ = -1;
    ComPtr<_HidPort> port_;
};

TEST_F(ReportExchangeTest, WriteDataSendsTheDigitPairsPaddedToTheReport) {
    Attach(2, 9, 2);
    const struct {
        const char* text;
        HRESULT hr;
        const char* answer;  // also the report sent after its id byte
        const char* description;
    } cases[] = {
        {"4142", S_OK, "4142000000000000", nullptr},
        {"0d0a", S_OK, "0D0A000000000000", nullptr},
        {"0102030405060708", S_OK, "0102030405060708", nullptr},
        {"", S_OK, "0000000000000000", nullptr},
        {"ABC", S_OK, "AB0C000000000000", nullptr},  // a last single digit is a byte of its own
        {"010203040506070809", kOutputTooLong, "",
         "The data is too long for the output report: 9 bytes given, at most 8 fit."},
        {"4G", kNotHexadecimal, "",
         "The text is not hexadecimal: the digit pair at character 1 is not a hexadecimal number."},
        {"41 2", kNotHexadecimal, "",
         "The text is not hexadecimal: the digit pair at character 3 is not a hexadecimal number."},
        {"-1", kNotHexadecimal, "",
         "The text is not hexadecimal: the digit pair at character 1 is not a hexadecimal number."},
    };
    std::size_t sent = 0;
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.text);
        TextAnswer answer = CallWriteData(Port(), entry.text);
        EXPECT_EQ(answer.hr, entry.hr);
        EXPECT_EQ(answer.text, entry.answer);
        std::vector<Bytes> reports = win32sim::WrittenOutputReports(scanner_);
        if (entry.hr == S_OK) {
            ASSERT_EQ(reports.size(), ++sent);
            Bytes expected{0};
            for (std::size_t i = 0; entry.answer[i] != '\0'; i += 2) {
                expected.push_back(static_cast<std::uint8_t>(
                    std::stoi(std::string(entry.answer + i, 2), nullptr, 16)));
            }
            EXPECT_EQ(reports.back(), expected);
        } else {
            EXPECT_EQ(reports.size(), sent) << "a refused text was sent";
            EXPECT_EQ(TakeErrorDescription(), entry.description);
        }
    }
}

TEST_F(ReportExchangeTest, SendFeatureSendsTheTextAsCharacters) {
    Attach(2, 2, 4);
    const struct {
        const char* text;
        HRESULT hr;
        const char* answer;
        Bytes report;
    } cases[] = {
        {"AB", S_OK, "00414200", {0, 65, 66, 0}},
        {"", S_OK, "00000000", {0, 0, 0, 0}},
        {"ABC", S_OK, "00414243", {0, 65, 66, 67}},
        {"ABCD", kFeatureTooLong, "", {}},
    };
    std::size_t sent = 0;
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.text);
        TextAnswer answer = CallSendFeature(Port(), entry.text);
        EXPECT_EQ(answer.hr, entry.hr);
        EXPECT_EQ(answer.text, entry.answer);
        std::vector<Bytes> reports = win32sim::SentFeatureReports(scanner_);
        if (entry.hr == S_OK) {
            ASSERT_EQ(reports.size(), ++sent);
            EXPECT_EQ(reports.back(), entry.report);
        } else {
            EXPECT_EQ(reports.size(), sent);
            EXPECT_EQ(TakeErrorDescription(),
                      "The text is too long for the feature report: 4 bytes given, at most 3 fit.");
        }
    }
}

TEST_F(ReportExchangeTest, GetFeatureGivesTheWholeReportWithItsId) {
    Attach(2, 2, 3);
    win32sim::SetFeatureReport(scanner_, {0, 0x12, 0x34});
    EXPECT_EQ(CallGetFeature(Port()).text, "001234");
    // A device answering with more than the report length is cut to it.
    win32sim::SetFeatureReport(scanner_, {0, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(CallGetFeature(Port()).text, "000102");
    // A failed read shows the zeroed buffer.
    win32sim::FailCalls(Call::HidD_GetFeature);
    TextAnswer failed = CallGetFeature(Port());
    EXPECT_EQ(failed.hr, S_OK);
    EXPECT_EQ(failed.text, "000000");
}

TEST_F(ReportExchangeTest, ReadDataWaitsAtMostItsTimeOutOnTheVirtualClock) {
    const struct {
        const char* what;
        std::optional<std::uint64_t> reportAt;
        SHORT timeout;
        const char* answer;
        std::uint64_t clockAfter;
        bool closed;
    } cases[] = {
        {"report already there", 0, 0, "ABCD", 0, false},
        {"nothing there, no wait", std::nullopt, 0, "TIMEOUT 0", 0, true},
        {"report within the time-out", 3000, 5, "ABCD", 3000, false},
        {"report at the time-out", 5000, 5, "ABCD", 5000, false},
        {"report after the time-out", 6000, 5, "TIMEOUT 5", 5000, true},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        port_.Reset();
        win32sim::Reset();
        ASSERT_EQ(CallServerExport("DllRegisterServer"), S_OK);
        Attach(3, 2, 2);
        if (entry.reportAt)
            win32sim::ScheduleInputReport(scanner_, {0, 0xAB, 0xCD}, *entry.reportAt);
        TextAnswer answer = CallReadData(Port(), entry.timeout);
        EXPECT_EQ(answer.hr, S_OK);
        EXPECT_EQ(answer.text, entry.answer);
        EXPECT_EQ(win32sim::NowMilliseconds(), entry.clockAfter);
        EXPECT_EQ(win32sim::PendingReadCount(), 0) << "a timed-out read was left pending";
        EXPECT_EQ(win32sim::OpenHandleCount(scanner_), entry.closed ? 0 : 2);
        EXPECT_TRUE(win32sim::Violations().empty());
    }
    // After the last time-out the next call searches again and gets the report.
    EXPECT_EQ(CallReadData(Port(), 5).text, "ABCD");
    EXPECT_EQ(win32sim::OpenCount(scanner_), 4);
}

TEST_F(ReportExchangeTest, ReadDataAfterAFailedWaitCancelsTheReadAndSearchesAgain) {
    Attach(3, 2, 2);
    win32sim::FailCalls(Call::WaitForSingleObject);
    EXPECT_EQ(CallReadData(Port(), 5).text, "ERROR READREPORT");
    EXPECT_EQ(win32sim::PendingReadCount(), 0) << "the read still owned a freed buffer";
    EXPECT_EQ(win32sim::OpenHandleCount(scanner_), 2)
        << "the handles stay open after a wait failure";

    // A report arriving now must not land in the earlier call's buffer.
    win32sim::QueueInputReport(scanner_, {0, 0x55, 0x66});
    EXPECT_EQ(CallReadData(Port(), 5).text, "5566");
    EXPECT_EQ(win32sim::OpenCount(scanner_), 4);
    EXPECT_EQ(win32sim::OpenHandleCount(scanner_), 2) << "the search replaced the old handles";
}

TEST_F(ReportExchangeTest, ReadDataRefusesANegativeTimeOutBeforeSearching) {
    win32sim::DeviceId scanner = win32sim::AddHidDevice(Scanner(0, 3, 2, 2));
    ComPtr<_HidPort> port = CreatePort();
    TextAnswer answer = CallReadData(*port.Get(), -1);
    EXPECT_EQ(answer.hr, kNegativeTimeout);
    EXPECT_EQ(TakeErrorDescription(), "The read time-out must not be negative: -1 seconds given.");
    EXPECT_EQ(win32sim::OpenCount(scanner), 0);
}

TEST_F(ReportExchangeTest, InputReportsLeaveOutTheIdAndNeverOverrunTheBuffer) {
    Attach(3, 2, 2);
    // A device sending more than its report length is cut to the length.
    win32sim::QueueInputReport(scanner_, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(CallReadData(Port(), 0).text, "0102");
    win32sim::QueueInputReport(scanner_, {0, 9, 8, 7, 6, 5, 4, 3, 2, 1});
    EXPECT_EQ(CallReadDataDirect(Port()).text, "0908");
    // A short one leaves the rest zero.
    win32sim::QueueInputReport(scanner_, {0, 0x77});
    EXPECT_EQ(CallReadDataDirect(Port()).text, "7700");
}

TEST_F(ReportExchangeTest, AReportOfOnlyTheIdGivesTheEmptyText) {
    Attach(1, 2, 2);
    win32sim::QueueInputReport(scanner_, {0});
    EXPECT_EQ(CallReadData(Port(), 1).text, "");
    win32sim::QueueInputReport(scanner_, {0});
    TextAnswer direct = CallReadDataDirect(Port());
    EXPECT_EQ(direct.hr, S_OK);
    EXPECT_EQ(direct.text, "");
}

TEST_F(ReportExchangeTest, ReadDataDirectBlocksUntilAReportArrives) {
    Attach(3, 2, 2);
    win32sim::ScheduleInputReport(scanner_, {0, 0x0A, 0x0B}, 2500);
    EXPECT_EQ(CallReadDataDirect(Port()).text, "0A0B");
    EXPECT_EQ(win32sim::NowMilliseconds(), 2500u);

    // The direct read has its own OVERLAPPED record: a timed read after it
    // still waits on its event.
    win32sim::ScheduleInputReport(scanner_, {0, 0x0C, 0x0D}, 4000);
    EXPECT_EQ(CallReadData(Port(), 2).text, "0C0D");
    EXPECT_EQ(win32sim::OpenCount(scanner_), 2) << "no new search was needed";

    // A report from another thread, in real time, ends the wait.
    win32sim::AllowRealTimeArrivals(true);
    std::thread device([&] {
        win32sim::WaitUntilReaderBlocked();
        win32sim::DeliverInputReportFromThread(scanner_, {0, 0x0E, 0x0F});
    });
    EXPECT_EQ(CallReadDataDirect(Port()).text, "0E0F");
    device.join();
}

TEST_F(ReportExchangeTest, ExchangesWithoutAReportFailBeforeTouchingTheDevice) {
    Attach(0, 0, 0);
    EXPECT_EQ(CallReadDataDirect(Port()).hr, kNoInputReport);
    EXPECT_EQ(
        TakeErrorDescription(),
        "No input report can be read: no scanner is attached, or its input report length is 0.");
    EXPECT_EQ(CallReadData(Port(), 0).text, "");
    EXPECT_EQ(CallWriteData(Port(), "").hr, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0302));
    EXPECT_EQ(CallSendFeature(Port(), "").hr, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0303));
    EXPECT_TRUE(win32sim::WrittenOutputReports(scanner_).empty());
    EXPECT_TRUE(win32sim::SentFeatureReports(scanner_).empty());
}

}  // namespace
}  // namespace hidbridge::test
