// A port's kernel timer. Its DPC hands the expiry to a work item, which posts
// the timer's identifier as a PortEvent with STATUS_TIMEOUT under the port lock.
// An expiry whose timer was set again or cancelled before the work item ran is
// dropped, so a late expiry cannot end a request it was not meant for.
#pragma once

#include <wdm.h>

#include "framework/dpc_object.h"
#include "framework/reusable_work_item.h"
#include "framework/timer.h"

namespace serial {

class SerialPort;

class PortTimer {
  public:
    PortTimer() = default;
    PortTimer(const PortTimer&) = delete;
    PortTimer& operator=(const PortTimer&) = delete;

    // False when the work item cannot be had.
    [[nodiscard]] bool Initialize(SerialPort* port, ULONG identifier);
    // dueTime: negative relative, positive absolute (100 ns). Any IRQL up to DISPATCH_LEVEL.
    void Set(LONGLONG dueTime);
    void Cancel();
    // The same for actions that may run out of order: an operation posted
    // before the latest one applied (`sequence` in posting order) does nothing.
    void Set(LONGLONG dueTime, ULONG sequence);
    void Cancel(ULONG sequence);
    // PASSIVE_LEVEL: cancels, refuses later Set calls and waits until no expiry
    // is in flight.
    void Shutdown();

    [[nodiscard]] ULONG Identifier() const { return identifier_; }

  private:
    // With the lock held.
    void SetLocked(LONGLONG dueTime);
    void CancelLocked();
    void OnDpc(PVOID, PVOID);
    static void OnExpiry(PVOID context);

    SerialPort* port_ = nullptr;
    ULONG identifier_ = 0;
    framework::Timer timer_;
    framework::DpcObject<PortTimer> dpc_;
    framework::ReusableWorkItem expiry_;
    // Guards the two generations: a Set or Cancel, and an expiry taken by the
    // work item, start a new generation; the DPC records the generation whose
    // expiry it saw.
    KSPIN_LOCK lock_ = 0;
    ULONG generation_ = 1;
    ULONG firedGeneration_ = 0;
    bool shutDown_ = false;   // Set does nothing any more
    ULONG lastSequence_ = 0;  // of the latest operation applied
};

}  // namespace serial
