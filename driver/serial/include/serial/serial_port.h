// The serial port device class: the complete state of one COM port, the
// handlers of the Windows serial interface and the port event engine. It never
// touches hardware; a concrete port supplies the abstract operations and the
// port lock (RunLocked), and creates the port's objects in its Initialize.
#pragma once

#include <wdm.h>
#include "kernel/ntddser.h"

#include <atomic>
#include <type_traits>

#include "framework/counted_string.h"
#include "framework/device_queue.h"
#include "framework/dpc_object.h"
#include "framework/pending_irp_holder.h"
#include "framework/pnp_device.h"
#include "framework/recursive_mutex.h"
#include "framework/reusable_work_item.h"
#include "serial/port_event.h"
#include "serial/port_timer.h"
#include "serial/serial_tables.h"

namespace serial {

// Queue indices.
inline constexpr ULONG kControlQueue = 0;
inline constexpr ULONG kReadQueue = 1;
inline constexpr ULONG kWriteQueue = 2;

// rxHoldReasons bits.
inline constexpr UCHAR kRxHoldDtr = 0x01;
inline constexpr UCHAR kRxHoldXoffSent = 0x02;
inline constexpr UCHAR kRxHoldRts = 0x04;
inline constexpr UCHAR kRxHoldDsr = 0x08;
// txHoldReasons bits.
inline constexpr UCHAR kTxHoldCts = 0x01;
inline constexpr UCHAR kTxHoldDsr = 0x02;
inline constexpr UCHAR kTxHoldDcd = 0x04;
inline constexpr UCHAR kTxHoldXoffReceived = 0x08;
inline constexpr UCHAR kTxHoldBreak = 0x20;
// modemControl bits.
inline constexpr UCHAR kModemControlDtr = 0x01;
inline constexpr UCHAR kModemControlRts = 0x02;

enum class ReadIntervalState : UCHAR { Idle, Armed, Running };

// drainState values.
inline constexpr UCHAR kDrainIdle = 0;
inline constexpr UCHAR kDrainTransmitToggle = 1;
inline constexpr UCHAR kDrainCloseRequested = 2;
inline constexpr UCHAR kDrainFlushRequested = 3;
inline constexpr UCHAR kDrainCloseDraining = 4;
inline constexpr UCHAR kDrainFlushDraining = 5;

// The timers of a port, by their index in SerialPort::timers.
enum class TimerIndex : ULONG {
    ReadTotal,
    WriteTotal,
    ReadInterval,
    ImmediateChar,
    XoffCounter,
    Drain
};
inline constexpr ULONG kTimerCount = 6;

class SerialPort;

// The immediate-character holder: cancelling the held request also withdraws
// the character.
class ImmediateCharHolder : public framework::PendingIrpHolder {
  public:
    explicit ImmediateCharHolder(SerialPort& port) : port_(port) {}
    ~ImmediateCharHolder() override { Close(); }

  protected:
    void BeforeCancelComplete(PIRP irp, NTSTATUS status, ULONG_PTR information) override;

  private:
    SerialPort& port_;
};

class SerialPort : public framework::PnpDevice {
  public:
    // A routine run by RunLocked; its byte is RunLocked's result.
    using LockedRoutine = UCHAR (*)(SerialPort& port, PVOID argument);
    using LockedRoutineNoArgument = UCHAR (*)(SerialPort& port);

    SerialPort(const framework::DeviceCreation& creation, PDEVICE_OBJECT physicalDevice);
    // Deletes the SERIALCOMM value, ShutdownPort() and frees the receive buffer.
    ~SerialPort() override;

    // ---- framework handlers and operations ---------------------------------
    NTSTATUS DispatchCreate(PIRP irp) override;
    NTSTATUS DispatchClose(PIRP irp) override;
    NTSTATUS DispatchRead(PIRP irp) override;
    NTSTATUS DispatchWrite(PIRP irp) override;
    NTSTATUS DispatchQueryInformation(PIRP irp) override;
    NTSTATUS DispatchSetInformation(PIRP irp) override;
    NTSTATUS DispatchFlushBuffers(PIRP irp) override;
    NTSTATUS DispatchDeviceControl(PIRP irp) override;
    NTSTATUS DispatchInternalDeviceControl(PIRP irp) override;
    NTSTATUS DispatchCleanup(PIRP irp) override;
    // AbortCurrentIo under the port lock.
    void CancelOwnRequests() override;
    // D0 while the port is open and the system is working; otherwise the framework's.
    [[nodiscard]] DEVICE_POWER_STATE DeviceStateForSystemState(SYSTEM_POWER_STATE state) override;

    // ---- virtual operations, in table order --------------------------------
    [[nodiscard]] virtual NTSTATUS ValidateBaudRate(ULONG rate, ULONG* converted) = 0;
    virtual bool ClearDtr() = 0;
    virtual bool ClearRts() = 0;
    virtual bool OnClose();
    virtual bool GetCommStatus(SERIAL_STATUS* status);
    virtual bool GetModemStatus(ULONG* status) = 0;  // status may be NULL
    virtual bool GetProperties(SERIAL_COMMPROP* properties);
    [[nodiscard]] virtual ULONG TransmitterBusy() = 0;
    [[nodiscard]] virtual NTSTATUS HandleOtherIoctl(PIRP irp, ULONG_PTR* information);
    [[nodiscard]] virtual NTSTATUS HandleOtherInternalIoctl(PIRP irp, ULONG_PTR* information);
    virtual void StartTransmit() = 0;
    virtual void OnBufferRead() {}
    [[nodiscard]] virtual NTSTATUS OnOpen(PIRP) { return STATUS_SUCCESS; }
    virtual void OnPowerDown() {}
    virtual void HandleOtherAction(PortAction&) {}
    virtual bool Purge(ULONG mask);
    virtual bool OnOpenSettings();
    virtual bool OnPowerUp();
    virtual void OnWriteQueued();
    virtual void FilterEvent(PortEvent&) {}
    virtual bool ApplyBaudRate(ULONG converted) = 0;
    virtual bool SetBreakOff();
    virtual bool SetBreakOn();
    virtual bool SetChars(const SERIAL_CHARS& chars);
    virtual bool SetFifoControl(ULONG value) = 0;
    virtual bool SetDtr() = 0;
    virtual bool SetEscapeChar(UCHAR character);
    virtual bool SetHandFlow(const SERIAL_HANDFLOW& handFlow);
    virtual bool SetModemControl(ULONG value) = 0;
    virtual bool SetRts() = 0;
    virtual bool ApplyLineControl(UCHAR lineControl) = 0;
    virtual bool SetTimeouts(const SERIAL_TIMEOUTS& timeouts);
    virtual bool SetWaitMask(ULONG mask);
    virtual bool SetXoff();
    virtual bool SetXon();
    [[nodiscard]] virtual UCHAR ClassifyIoctl(ULONG) { return kPathAtOnce; }
    [[nodiscard]] virtual UCHAR ClassifyInternalIoctl(ULONG) { return kPathAtOnce; }
    virtual UCHAR RunLocked(LockedRoutine routine, PVOID argument) {
        return routine(*this, argument);
    }
    virtual UCHAR RunLocked(LockedRoutineNoArgument routine) { return routine(*this); }
    virtual void OnReceiveAlmostFull();
    virtual void OnReceiveDrained();
    virtual bool AbortCurrentIo();

    // ---- the port event engine (port lock held) ------------------------------
    void PostEvent(PortEvent event);

    // ---- receiving (port lock held) ------------------------------------------
    // Received characters; raw ones skip the per-character treatment. Returns
    // how many were accepted.
    ULONG PutReceived(const UCHAR* bytes, ULONG count, bool raw);

    // ---- transmitting (port lock held) ---------------------------------------
    // The transmit source: fills `destination` with at most `maximum` bytes;
    // `immediate` tells whether the byte was the immediate character.
    ULONG TakeTransmitBytes(UCHAR* destination, ULONG maximum, bool* immediate = nullptr);
    [[nodiscard]] ULONG BytesToTransmit() const;
    void DrainStep(UCHAR requestedState);

    // ---- events, flow control and modem lines (port lock held) ---------------
    void CheckWait();
    void ProcessModemStatus(UCHAR status);
    void ProcessLineStatus(UCHAR lineStatus);
    void ApplyHandFlow(ULONG controlHandShake, ULONG flowReplace, bool applyDtr, bool applyRts);

    // ---- naming and open defaults --------------------------------------------
    [[nodiscard]] NTSTATUS AssignPortName();
    void RemoveSerialCommValue();
    void LoadPortsDefaults();

    // Runs `body` (returning void, bool or a byte) through RunLocked.
    template <typename Body>
    UCHAR WithPortLock(Body&& body) {
        return RunLocked(
            [](SerialPort&, PVOID argument) -> UCHAR {
                auto& call = *static_cast<std::remove_reference_t<Body>*>(argument);
                if constexpr (std::is_void_v<decltype(call())>) {
                    call();
                    return 1;
                } else {
                    return static_cast<UCHAR>(call());
                }
            },
            const_cast<void*>(static_cast<const volatile void*>(&body)));
    }

    [[nodiscard]] bool IsOpen() const { return openCount != 0; }

  protected:
    // Stops the timers, the cancel checks and the action runner after running
    // what was posted. They call virtual operations, so a concrete port calls
    // this first in its own destructor. PASSIVE_LEVEL; a second call does nothing.
    void ShutdownPort();
    // Defers an action to the runner and queues the runner (port lock held or
    // not; any IRQL up to DISPATCH_LEVEL). Types the engine does not know go to
    // HandleOtherAction.
    void PostAction(ULONG type, PIRP irp, LONGLONG dueTime);
    // Creates the three request queues with `policy`, the six timers and the
    // action runner; raises STATUS_INSUFFICIENT_RESOURCES. Called by the
    // concrete port's Initialize.
    void InitializePort(framework::StartPolicy policy);

    // ---- serial settings ----------------------------------------------------
    ULONG baudRate = 1200;
    UCHAR lineControl = 0x1A;
    UCHAR dataMask = 0x7F;
    SERIAL_HANDFLOW handFlow{SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 0, 0};
    ULONG activeControlHandShake = SERIAL_DTR_CONTROL;
    ULONG activeFlowReplace = SERIAL_RTS_CONTROL;
    SERIAL_CHARS specialChars{0, 0, 0, 0, 0x11, 0x13};
    SERIAL_TIMEOUTS timeouts{};
    UCHAR escapeChar = 0;
    UCHAR modemControl = 0x0B;
    UCHAR modemStatus = 0;
    UCHAR rxFifoTrigger = 0;
    ULONG waitMask = 0;
    ULONG activeWaitMask = 0;
    ULONG eventHistory = 0;
    ULONG errorFlags = 0;
    SERIALPERF_STATS perfStats{};
    UCHAR rxHoldReasons = 0;
    UCHAR txHoldReasons = 0;
    bool sendXon = false;
    bool sendXoff = false;
    // Atomic: the immediate-character holder clears it from a cancellation,
    // where the port lock cannot be taken.
    std::atomic<bool> immediateCharPending{false};
    UCHAR immediateChar = 0;
    bool charsWereSent = false;
    ULONG supportedBauds = 0;
    LONG openCount = 0;  // interlocked
    bool portActive = false;
    KIRQL maxInlineIrql = DISPATCH_LEVEL;
    UCHAR drainState = kDrainIdle;

    // ---- receive buffer and current read --------------------------------------
    UCHAR* rxBuffer = nullptr;
    ULONG rxBufferSize = 0;
    ULONG rxFirst = 0;
    ULONG rxNext = 0;
    ULONG rxCount = 0;
    PIRP currentRead = nullptr;  // exchanged atomically
    ULONG readLength = 0;
    UCHAR* readBuffer = nullptr;
    ULONG readCopied = 0;
    ReadIntervalState readIntervalState = ReadIntervalState::Idle;
    LONGLONG lastCharTime = 0;

    // ---- current write ----------------------------------------------------------
    PIRP currentWrite = nullptr;  // exchanged atomically
    ULONG writeLength = 0;
    const UCHAR* writeBuffer = nullptr;
    ULONG writeTaken = 0;
    bool writeIsXoffCounter = false;
    bool xoffCharPending = false;
    LONG xoffCounter = 0;
    ULONG xoffTimeout = 0;
    PIRP flushRequest = nullptr;  // exchanged atomically
    KEVENT flushEvent;            // notification, signalled while no flush is queued
    ImmediateCharHolder immediateCharHolder{*this};

    // ---- event waits -------------------------------------------------------------
    framework::PendingIrpHolder waitHolder;

    // ---- naming and open/close -----------------------------------------------------
    framework::CountedString portName;
    bool serialCommWritten = false;
    bool powerDownOnClose = true;
    framework::RecursiveMutex openCloseLock;
    framework::RecursiveMutex powerLock;
    KEVENT closeEvent;  // notification

  private:
    friend class ImmediateCharHolder;
    friend class PortTimer;
    friend class DeferredControlCode;

    // ---- request processing ------------------------------------------------------
    [[nodiscard]] bool ErrorAbortInForce() const;
    // Why a read, write, flush or file-information request is refused before it
    // starts: STATUS_INVALID_DEVICE_REQUEST (not open), STATUS_CANCELLED (error
    // abort), or STATUS_SUCCESS.
    [[nodiscard]] NTSTATUS EntryRefusal() const;
    // The start routine of all three queues.
    VOID StartRequest(PIRP irp);
    // The queue a request came from, by its major function and control code.
    [[nodiscard]] ULONG QueueOfRequest(PIRP irp);
    // Runs a control code; STATUS_PENDING leaves the request where it went.
    [[nodiscard]] NTSTATUS ProcessControlCode(PIRP irp, ULONG_PTR* information);
    [[nodiscard]] NTSTATUS ProcessInternalSettings(PIRP irp, ULONG_PTR* information);
    // A queue index queues the request (after PowerUp); path 0x0F processes it
    // inline up to maxInlineIrql, otherwise in a work item.
    NTSTATUS ProcessOnPath(PIRP irp, UCHAR path, bool internal);
    NTSTATUS ProcessAndComplete(PIRP irp, bool internal);
    NTSTATUS QueueOnPath(PIRP irp, ULONG queue);
    // The checks of an XOFF counter before it starts; sets IoStatus.
    [[nodiscard]] NTSTATUS CheckXoffCounter(PIRP irp);
    [[nodiscard]] NTSTATUS PreprocessControlCode(PIRP irp, ULONG code, bool* completed);

    // ---- control codes of each area --------------------------------------------
    [[nodiscard]] NTSTATUS SetQueueSize(PIRP irp);
    [[nodiscard]] NTSTATUS ImmediateCharRequest(PIRP irp);
    [[nodiscard]] NTSTATUS SetWaitMaskRequest(PIRP irp);
    [[nodiscard]] NTSTATUS WaitOnMaskRequest(PIRP irp);
    [[nodiscard]] NTSTATUS PurgeRequest(PIRP irp);

    // ---- event engine ---------------------------------------------------------------
    // Exchanges the slot with empty and sets the request's IoStatus from the
    // event (an error status) or the bytes moved so far.
    PIRP TakeCurrentRequest(PIRP* slot, NTSTATUS status, ULONG information, ULONG moved);
    [[nodiscard]] PortAction* AcquireAction(ULONG type, PIRP irp);
    void ReleaseAction(PortAction* action);
    void QueueActionRunner();
    void RunActions();
    void ExecuteAction(PortAction& action);
    static void ActionRunnerRoutine(PVOID context);
    void OnRunnerDpc(PVOID, PVOID);
    [[nodiscard]] PortTimer& TimerAt(TimerIndex index) { return timers[static_cast<ULONG>(index)]; }
    // Installs the cancel routine of the current read or write.
    void ArmCurrentCancel(PIRP irp, bool isRead);
    static VOID CancelCurrentRead(PDEVICE_OBJECT deviceObject, PIRP irp);
    static VOID CancelCurrentWrite(PDEVICE_OBJECT deviceObject, PIRP irp);
    void ScheduleCancelCheck(bool isRead);
    void CheckCurrentCancelled(bool isRead);
    static void ReadCancelRoutine(PVOID context);
    static void WriteCancelRoutine(PVOID context);
    void CompleteAndRestart(PIRP irp, ULONG queue);

    // ---- receiving ---------------------------------------------------------------------
    // Where received bytes go: the current read, else the ring. Room 0: full.
    UCHAR* ReceiveDestination(ULONG want, ULONG* room, bool* intoRead);
    void AccountReceived(ULONG written, bool intoRead);
    // The start-read routine: true when the read became the current read.
    bool StartRead(PIRP irp);
    void PurgeReceive(ULONG mask);
    // Replaces the ring by `storage` of `size` bytes; returns the old storage.
    UCHAR* ReplaceReceiveBuffer(UCHAR* storage, ULONG size);

    // ---- transmitting ------------------------------------------------------------------
    bool StartWrite(PIRP irp);
    void StartFlush(PIRP irp);
    void PurgeTransmit(ULONG mask);
    // A current XOFF counter ends with STATUS_SERIAL_MORE_WRITES.
    void EndXoffCounterForMoreWrites();
    static void MoreWritesRoutine(PVOID context);
    // The immediate character goes out now: its request completes.
    void HandOutImmediateChar();
    // Withdraws the pending immediate character of `irp` (cancel hook).
    void WithdrawImmediateChar(PIRP irp);
    // The IMMEDIATE_CHAR request whose character is pending (exchanged atomically).
    PIRP immediateCharRequest = nullptr;

    // ---- event waits and flow control -------------------------------------------
    // Adds the EV_* bits of `events` that the active wait mask has to the history.
    void RecordEvents(ULONG events);
    // The CTS/DSR/DCD transmit holds and the DSR receive hold for the input
    // lines in `lines` (modemStatus layout), as the handshake asks.
    void ApplyLineHolds(ULONG lines);
    // One inserted status sequence: escapeChar, `kind`, `value` (raw), while
    // the receive buffer exists.
    void InsertStatus(UCHAR kind, UCHAR value);
    // The receive buffer against handFlow's XoffLimit and XonLimit.
    [[nodiscard]] bool ReceiveAboveLimit() const;
    [[nodiscard]] bool ReceiveBelowResumeLevel() const;
    // The DTR or RTS handshake: drops the line above the limit, raises it again
    // once the buffer is below the resume level.
    void ApplyReceiveHandshake(UCHAR holdBit, bool (SerialPort::*lower)(),
                               bool (SerialPort::*raise)());

    // ---- opening -------------------------------------------------------------------------
    void FreeReceiveBuffer();
    // CREATE once the count is taken: receive buffer, resets, Ports defaults,
    // OnOpen and the open settings; on failure the count is given back.
    [[nodiscard]] NTSTATUS OpenPort(PIRP irp);
    // PortName, the DOS-device link, the SERIALCOMM value and the interface.
    [[nodiscard]] NTSTATUS NamePort(HANDLE deviceKey);

    // ---- event engine state ------------------------------------------------------------
    PortTimer timers[kTimerCount];
    static constexpr ULONG kActionCount = 32;
    PortAction actions[kActionCount];
    // One reserve record per action type that carries no request, used only when
    // all records are taken (requests then travel in the IRP itself).
    PortAction reserveActions[11];
    LIST_ENTRY freeActions;
    LIST_ENTRY pendingActions;
    LIST_ENTRY overflowRequests;  // IRPs whose action found no record
    KSPIN_LOCK actionLock = 0;
    ULONG actionSequence = 1;  // posting order; guarded by actionLock
    framework::ReusableWorkItem actionRunner;
    framework::DpcObject<SerialPort> runnerDpc;
    framework::ReusableWorkItem readCancelWork;
    framework::ReusableWorkItem writeCancelWork;
    framework::ReusableWorkItem moreWritesWork;
};

}  // namespace serial
