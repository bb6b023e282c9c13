#include "serial/port_timer.h"

#include "serial/serial_port.h"

namespace serial {

bool PortTimer::Initialize(SerialPort* port, ULONG identifier) {
    port_ = port;
    identifier_ = identifier;
    KeInitializeSpinLock(&lock_);
    dpc_.Initialize(this, &PortTimer::OnDpc);
    return expiry_.Allocate(port->DeviceObject(), &PortTimer::OnExpiry, this);
}

namespace {

// Wrap-safe: `sequence` was posted after `last`.
[[nodiscard]] bool PostedAfter(ULONG sequence, ULONG last) {
    return static_cast<LONG>(sequence - last) > 0;
}

}  // namespace

void PortTimer::Set(LONGLONG dueTime) {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    SetLocked(dueTime);
    KeReleaseSpinLock(&lock_, irql);
}

void PortTimer::Cancel() {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    CancelLocked();
    KeReleaseSpinLock(&lock_, irql);
}

void PortTimer::Set(LONGLONG dueTime, ULONG sequence) {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    if (PostedAfter(sequence, lastSequence_)) {
        lastSequence_ = sequence;
        SetLocked(dueTime);
    }
    KeReleaseSpinLock(&lock_, irql);
}

void PortTimer::Cancel(ULONG sequence) {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    if (PostedAfter(sequence, lastSequence_)) {
        lastSequence_ = sequence;
        CancelLocked();
    }
    KeReleaseSpinLock(&lock_, irql);
}

void PortTimer::SetLocked(LONGLONG dueTime) {
    if (shutDown_) return;
    ++generation_;
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    timer_.Set(due, 0, dpc_.Get());  // cancels first, taking back a queued DPC
}

void PortTimer::CancelLocked() {
    ++generation_;
    (void)timer_.Cancel();
}

void PortTimer::Shutdown() {
    if (port_ == nullptr) return;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    shutDown_ = true;
    KeReleaseSpinLock(&lock_, irql);
    Cancel();
    KeFlushQueuedDpcs();
    expiry_.Shutdown();
}

void PortTimer::OnDpc(PVOID, PVOID) {
    KeAcquireSpinLockAtDpcLevel(&lock_);
    // A DPC that ran while the timer was being set again belongs to the old
    // setting: the new one has not expired.
    const bool current = timer_.HasExpired();
    if (current) firedGeneration_ = generation_;
    KeReleaseSpinLockFromDpcLevel(&lock_);
    if (current) expiry_.Queue();
}

void PortTimer::OnExpiry(PVOID context) {
    auto* self = static_cast<PortTimer*>(context);
    self->port_->WithPortLock([self] {
        KIRQL irql;
        KeAcquireSpinLock(&self->lock_, &irql);
        const bool current = self->firedGeneration_ == self->generation_;
        if (current) ++self->generation_;  // one event per expiry
        KeReleaseSpinLock(&self->lock_, irql);
        if (current) self->port_->PostEvent({self->identifier_, STATUS_TIMEOUT, 0});
    });
}

}  // namespace serial
