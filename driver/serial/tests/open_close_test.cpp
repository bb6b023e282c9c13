// Opening and closing the port: the line defaults of the Ports key, the
// receive buffer, one open at a time, failed opens, the close drain, and the
// requests that need an open port.
#include <optional>

#include "framework/pool.h"
#include "serial_fixture.h"
#include "sim/faults.h"

namespace serial::testing {
namespace {

constexpr ULONG kFileDirectoryFile = 0x00000001;

std::vector<UCHAR> StringBytes(std::u16string_view text, bool terminated = true) {
    std::vector<UCHAR> bytes;
    for (char16_t character : text) {
        bytes.push_back(static_cast<UCHAR>(character & 0xFF));
        bytes.push_back(static_cast<UCHAR>(character >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

class OpenCloseTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
    }

    static void SetPortsValue(ULONG type, std::vector<UCHAR> data) {
        sim::registry::SetValue(kPortsKey, u"COM5:", type, std::move(data));
    }

    // A request built in kernel mode and sent to the port, waited for.
    struct Answer {
        NTSTATUS status;
        ULONG_PTR information;
    };
    template <typename Setup>
    Answer Send(UCHAR majorFunction, Setup setup) {
        PDEVICE_OBJECT device = port_->DeviceObject();
        PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
        EXPECT_NE(irp, nullptr);
        if (irp == nullptr) return {STATUS_INSUFFICIENT_RESOURCES, 0};
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = majorFunction;
        setup(irp, next);
        IoSetCompletionRoutine(irp, &Completed, &done, TRUE, TRUE, TRUE);
        (void)IoCallDriver(device, irp);
        (void)KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        const Answer answer{irp->IoStatus.Status, irp->IoStatus.Information};
        IoFreeIrp(irp);
        return answer;
    }
    Answer SendPlain(UCHAR majorFunction) {
        return Send(majorFunction, [](PIRP, PIO_STACK_LOCATION) {});
    }
    Answer Query(FILE_INFORMATION_CLASS informationClass, std::vector<UCHAR>& buffer) {
        return Send(IRP_MJ_QUERY_INFORMATION, [&](PIRP irp, PIO_STACK_LOCATION stack) {
            irp->AssociatedIrp.SystemBuffer = buffer.data();
            stack->Parameters.QueryFile.Length = static_cast<ULONG>(buffer.size());
            stack->Parameters.QueryFile.FileInformationClass = informationClass;
        });
    }
    Answer SetInformation(FILE_INFORMATION_CLASS informationClass) {
        return Send(IRP_MJ_SET_INFORMATION, [&](PIRP, PIO_STACK_LOCATION stack) {
            stack->Parameters.SetFile.FileInformationClass = informationClass;
        });
    }

    [[nodiscard]] ULONG DriverPoolBlocks() const {
        return static_cast<ULONG>(sim::PoolInUse(framework::kPoolTag).blocks);
    }
    [[nodiscard]] ULONG LastAppliedBaudRate() const {
        ULONG rate = 0;
        for (const HardwareChange& change : port_->Changes()) {
            if (change.kind == HardwareChange::Kind::BaudRate) rate = change.value;
        }
        return rate;
    }

    TestPort* port_ = nullptr;

  private:
    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP, PVOID context) {
        (void)KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

// Each open loads the Ports value; settings that a malformed value does not
// reach keep what the previous open left.
TEST_F(OpenCloseTest, PortsDefaults) {
    struct Case {
        const char* what;
        std::optional<std::vector<UCHAR>> data;  // none: no value
        ULONG type;
        ULONG baudRate;
        UCHAR lineControl;
        ULONG controlHandShake;
        ULONG flowReplace;
        LONG limit;  // XonLimit and XoffLimit when the value reaches them
    };
    const auto text = [](std::u16string_view value) { return StringBytes(value); };
    const Case cases[] = {
        {"8 data bits", text(u"9600,n,8,1"), REG_SZ, 9600, 0x03, 0x01, 0x40, 20},
        {"XON/XOFF", text(u"19200,e,7,2,x"), REG_SZ, 19200, 0x1E, 0x01, 0x43, 20},
        {"hardware", text(u"115200,o,8,1.5,p"), REG_SZ, 115200, 0x0F, 0x1A, 0x80, 20},
        {"capital parity", text(u"9600,N,8,1"), REG_SZ, 9600, 0x03, 0x01, 0x40, 20},
        {"empty field", text(u"9600,,8,1,p"), REG_SZ, 9600, 0x02, 0x01, 0x40, 20},
        {"no value", std::nullopt, REG_SZ, 1200, 0x02, 0x01, 0x40, 20},
        {"blanks, capital X", text(u" 4800 ,\tm\t, 6 ,2 , X \n"), REG_SZ, 4800, 0x2D, 0x01, 0x43,
         20},
        {"leading comma", text(u",e,8,2"), REG_SZ, 1200, 0x02, 0x01, 0x40, 20},
        {"sixth field", text(u"2400,s,5,1,p,x"), REG_SZ, 2400, 0x38, 0x1A, 0x80, 20},
        {"no NUL, odd byte",
         [] {
             auto bytes = StringBytes(u"4800,o", false);
             bytes.push_back('x');
             return bytes;
         }(),
         REG_SZ, 4800, 0x0A, 0x01, 0x40, 20},
        {"not a string", std::vector<UCHAR>{0x80, 0x25, 0, 0}, REG_DWORD, 1200, 0x02, 0x01, 0x40,
         20},
        {"too long", text(std::u16string(40000, u'9')), REG_SZ, 1200, 0x02, 0x01, 0x40, 20},
        // The rows below start from the "too long" row and the limits of a
        // 4096-byte receive buffer.
        {"parity x", text(u"19200,x,8,2,p"), REG_SZ, 19200, 0x07, 0x1A, 0x80, 20},
        {"baud no number", text(u"fast,n,8,1"), REG_SZ, 19200, 0x07, 0x1A, 0x80, 0},
        {"data bits no number", text(u"57600,e,eight,1,x"), REG_SZ, 57600, 0x07, 0x1A, 0x80, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.data) {
            SetPortsValue(c.type, *c.data);
        } else {
            sim::registry::DeleteValue(kPortsKey, u"COM5:");
        }
        HANDLE file = Open();
        ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
        EXPECT_EQ(Get<SERIAL_BAUD_RATE>(file, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate, c.baudRate);
        EXPECT_EQ(LastAppliedBaudRate(), c.baudRate);
        port_->Locked([&] { EXPECT_EQ(port_->lineControl, c.lineControl); });
        const auto flow = Get<SERIAL_HANDFLOW>(file, IOCTL_SERIAL_GET_HANDFLOW);
        EXPECT_EQ(flow.ControlHandShake, c.controlHandShake);
        EXPECT_EQ(flow.FlowReplace, c.flowReplace);
        // Not reached: the limits the open set from the buffer size.
        EXPECT_EQ(flow.XonLimit, c.limit != 0 ? c.limit : 4096 / 2);
        EXPECT_EQ(flow.XoffLimit, c.limit != 0 ? c.limit : 4096 / 8);
        Close(file);
    }
}

TEST_F(OpenCloseTest, ReceiveBufferFollowsTheSystemSize) {
    // A value that stops at once shows the limits taken from the buffer size.
    SetPortsValue(REG_SZ, StringBytes(u"fast"));
    const ULONG idle = DriverPoolBlocks();
    const std::pair<MM_SYSTEMSIZE, ULONG> sizes[] = {
        {MmSmallSystem, 128}, {MmMediumSystem, 1024}, {MmLargeSystem, 4096}};
    for (const auto& [system, size] : sizes) {
        SCOPED_TRACE(size);
        sim::SetSystemSize(system);
        HANDLE file = Open();
        ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
        EXPECT_EQ(DriverPoolBlocks(), idle + 1);
        port_->Locked([&] {
            EXPECT_EQ(port_->rxBufferSize, size);
            EXPECT_EQ(port_->handFlow.XonLimit, static_cast<LONG>(size / 2));
            EXPECT_EQ(port_->handFlow.XoffLimit, static_cast<LONG>(size / 8));
        });
        Close(file);
        EXPECT_EQ(port_->rxBufferSize, 0U);
        EXPECT_EQ(DriverPoolBlocks(), idle);
    }
}

// Every open resets the flow-control state and the recorded errors.
TEST_F(OpenCloseTest, OpenResetsTheLineState) {
    HANDLE file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    Close(file);
    port_->Locked([&] {
        port_->rxHoldReasons = kRxHoldDtr | kRxHoldRts;
        port_->txHoldReasons = kTxHoldCts | kTxHoldBreak;
        port_->escapeChar = 0xFF;
        port_->sendXoff = true;
        port_->errorFlags = SERIAL_ERROR_FRAMING;
    });
    file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    port_->Locked([&] {
        EXPECT_EQ(port_->rxHoldReasons, 0);
        EXPECT_EQ(port_->txHoldReasons, 0);
        EXPECT_EQ(port_->escapeChar, 0);
        EXPECT_FALSE(port_->sendXoff);
        EXPECT_EQ(port_->errorFlags, 0U);
        EXPECT_EQ(port_->rxCount, 0U);
        EXPECT_TRUE(port_->portActive);
    });
}

TEST_F(OpenCloseTest, OneOpenAtATime) {
    HANDLE first = Open();
    ASSERT_NE(first, win32::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port_->WakeEnabled());
    EXPECT_EQ(Open(u"\\\\.\\COM5"), win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32::LastNtStatus(), STATUS_ACCESS_DENIED);
    EXPECT_EQ(Open(), win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(port_->openCount, 1);
    EXPECT_EQ(port_->powerUpCalls, 3);  // every open powers the device up first
    Close(first);
    EXPECT_EQ(port_->openCount, 0);
    EXPECT_FALSE(port_->WakeEnabled());
    EXPECT_NE(Open(u"\\\\.\\COM5"), win32::INVALID_HANDLE_VALUE);
}

// A failing OnOpen or open settings refuse the open and leave the port as closed.
TEST_F(OpenCloseTest, FailedOpenLeavesThePortClosed) {
    struct Case {
        const char* what;
        NTSTATUS openStatus;
        bool openSettingsResult;
    };
    for (const Case& c : {Case{"OnOpen", STATUS_UNSUCCESSFUL, true},
                          Case{"open settings", STATUS_SUCCESS, false}}) {
        SCOPED_TRACE(c.what);
        delete port_;
        TestPort::nextOptions.openStatus = c.openStatus;
        TestPort::nextOptions.openSettingsResult = c.openSettingsResult;
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        const ULONG idle = DriverPoolBlocks();
        EXPECT_EQ(Open(), win32::INVALID_HANDLE_VALUE);
        EXPECT_EQ(win32::LastNtStatus(), STATUS_ACCESS_DENIED);
        EXPECT_EQ(port_->lastRequestedPower, PowerDeviceD3);
        port_->Locked([&] {
            EXPECT_EQ(port_->openCount, 0);
            EXPECT_EQ(port_->rxBufferSize, 0U);
            EXPECT_FALSE(port_->portActive);
        });
        EXPECT_EQ(DriverPoolBlocks(), idle);
    }
}

// An allocation that fails during an open: the receive buffer fails the open;
// the reading of the Ports value falls back to its defaults.
TEST_F(OpenCloseTest, AllocationFailuresDuringAnOpen) {
    SetPortsValue(REG_SZ, StringBytes(u"9600,n,8,1"));
    const ULONG idle = DriverPoolBlocks();
    int refused = 0;
    for (std::uint64_t nth = 1;; ++nth) {
        SCOPED_TRACE(::testing::Message() << "allocation " << nth);
        ASSERT_LT(nth, 50U);
        sim::ClearFaults();
        sim::AddFault({sim::FaultSite::Pool, framework::kPoolTag, nth, 1, 0.0});
        HANDLE file = Open();
        const bool injected = sim::InjectedFailures() != 0;
        sim::ClearFaults();
        if (file == win32::INVALID_HANDLE_VALUE) {
            ++refused;
            EXPECT_EQ(win32::LastNtStatus(), STATUS_INSUFFICIENT_RESOURCES);
            EXPECT_EQ(port_->openCount, 0);
        } else {
            const ULONG baud = Get<SERIAL_BAUD_RATE>(file, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate;
            EXPECT_EQ(baud, injected ? 1200U : 9600U);
            Close(file);
        }
        EXPECT_EQ(DriverPoolBlocks(), idle);
        if (!injected) break;
    }
    EXPECT_EQ(refused, 1);
}

TEST_F(OpenCloseTest, RequestsOfAKernelCaller) {
    // Not open.
    EXPECT_EQ(SendPlain(IRP_MJ_CLOSE).status, STATUS_INVALID_DEVICE_REQUEST);
    std::vector<UCHAR> record(24, 0xAA);
    EXPECT_EQ(Query(FileStandardInformation, record).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(SetInformation(FilePositionInformation).status, STATUS_INVALID_DEVICE_REQUEST);
    // A directory cannot be opened.
    const Answer directory = Send(IRP_MJ_CREATE, [](PIRP, PIO_STACK_LOCATION stack) {
        stack->Parameters.Create.Options = kFileDirectoryFile;
    });
    EXPECT_EQ(directory.status, STATUS_NOT_A_DIRECTORY);
    EXPECT_EQ(port_->openCount, 0);
    EXPECT_EQ(port_->rxBufferSize, 0U);

    HANDLE file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    // Setting file information is accepted for two classes and stores nothing.
    EXPECT_EQ(SetInformation(FileStandardInformation).status, STATUS_SUCCESS);
    EXPECT_EQ(SetInformation(FilePositionInformation).status, STATUS_SUCCESS);
    EXPECT_EQ(SetInformation(FileBasicInformation).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SetInformation(FileEndOfFileInformation).status, STATUS_INVALID_PARAMETER);

    // Queries report nothing; the two known records are cleared, and only
    // within the buffer.
    struct QueryCase {
        FILE_INFORMATION_CLASS informationClass;
        size_t bufferSize;
        bool cleared;
    };
    for (const QueryCase& c : {QueryCase{FileStandardInformation, 24, true},
                               QueryCase{FileStandardInformation, 16, false},
                               QueryCase{FilePositionInformation, 8, true},
                               QueryCase{FileBasicInformation, 40, false}}) {
        SCOPED_TRACE(::testing::Message() << c.informationClass << " " << c.bufferSize);
        std::vector<UCHAR> buffer(c.bufferSize, 0xAA);
        const Answer answer = Query(c.informationClass, buffer);
        EXPECT_EQ(answer.status, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(answer.information, 0U);
        EXPECT_EQ(buffer, std::vector<UCHAR>(c.bufferSize, c.cleared ? 0x00 : 0xAA));
    }

    // An error abort in force cancels both.
    port_->Locked([&] {
        port_->activeControlHandShake |= SERIAL_ERROR_ABORT;
        port_->errorFlags = SERIAL_ERROR_PARITY;
    });
    EXPECT_EQ(Query(FileStandardInformation, record).status, STATUS_CANCELLED);
    EXPECT_EQ(SetInformation(FileStandardInformation).status, STATUS_CANCELLED);
    port_->Locked([&] { port_->errorFlags = 0; });
    EXPECT_EQ(SetInformation(FileStandardInformation).status, STATUS_SUCCESS);
}

// The close drops RTS and DTR ten character times after it began, sends the
// XON a receive hold owed the other side, powers down and disarms wake.
TEST_F(OpenCloseTest, CloseDrainsAndPowersDown) {
    SetPortsValue(REG_SZ, StringBytes(u"1200,n,8,1"));
    HANDLE file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    port_->Locked([&] { port_->rxHoldReasons = kRxHoldXoffSent; });
    port_->ClearRecords();
    port_->lastRequestedPower = PowerDeviceUnspecified;
    const ULONGLONG began = sim::Now();
    Close(file);
    // Ten characters of ten bits at 1200 baud.
    EXPECT_GE(sim::Now() - began, ULONGLONG{833333});
    EXPECT_EQ(port_->Changes(), (std::vector<HardwareChange>{{HardwareChange::Kind::Rts, 0},
                                                             {HardwareChange::Kind::Dtr, 0}}));
    EXPECT_EQ(port_->Sent(), "\x11");
    port_->Locked([&] {
        EXPECT_EQ(port_->rxHoldReasons, 0);
        EXPECT_FALSE(port_->portActive);
        EXPECT_EQ(port_->openCount, 0);
        EXPECT_EQ(port_->rxBufferSize, 0U);
    });
    EXPECT_EQ(port_->lastRequestedPower, PowerDeviceD3);
    EXPECT_FALSE(port_->WakeEnabled());
}

// A read still waiting for data when its handle is closed ends cancelled, and
// the port closes after it, also when the read's completion drops the file's
// last reference inside the action runner, and while another runner is held.
TEST_F(OpenCloseTest, ClosingTheHandleEndsAPendingRead) {
    constexpr ULONG kHoldRunner = 0x40000000;
    KEVENT release;
    KeInitializeEvent(&release, NotificationEvent, FALSE);
    port_->otherAction = [&](PortAction& action) {
        if (action.type == kHoldRunner) {
            (void)KeWaitForSingleObject(&release, Executive, KernelMode, FALSE, nullptr);
        }
    };
    HANDLE file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    Pending read;
    ASSERT_TRUE(read.Read(file, 10));
    sim::Settle();
    ASSERT_FALSE(read.Done());
    port_->PostAction(kHoldRunner, nullptr, 0);
    Close(file);
    sim::AdvanceTimeMs(200);  // the close drain
    (void)KeSetEvent(&release, IO_NO_INCREMENT, FALSE);
    sim::Settle();
    EXPECT_TRUE(read.Done());
    EXPECT_EQ(read.Status(), STATUS_CANCELLED);
    EXPECT_EQ(read.Information(), 0U);
    EXPECT_EQ(port_->openCount, 0);
}

}  // namespace
}  // namespace serial::testing
