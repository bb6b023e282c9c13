// A cancel-safe holder of one pending request (such as a wait that completes on
// a later event). Every holder of the driver is on one driver-wide list, so that
// held requests can be cancelled by file object or by device.
#pragma once

#include <wdm.h>

#include <cstddef>

#include "framework/irql_spin_lock.h"

namespace framework {

class PendingIrpHolder {
  public:
    // The lock's IRQL: a holder may be used from any IRQL up to this one.
    static constexpr KIRQL kLockIrql = PROFILE_LEVEL;  // 27

    PendingIrpHolder();
    PendingIrpHolder(const PendingIrpHolder&) = delete;
    PendingIrpHolder& operator=(const PendingIrpHolder&) = delete;
    // Close(), then leaves the driver-wide list. At PASSIVE_LEVEL.
    virtual ~PendingIrpHolder();

    // Non-paged framework pool; raises STATUS_INSUFFICIENT_RESOURCES.
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    // STATUS_PENDING: the request is marked pending and held. STATUS_DEVICE_BUSY
    // (a request is already held), STATUS_DEVICE_REMOVED (closed) or
    // STATUS_CANCELLED (already cancelled): the caller completes it.
    [[nodiscard]] NTSTATUS Hold(PIRP irp);
    // The held request, now owned by the caller, or NULL (none, or it is being
    // cancelled and its cancel routine completes it).
    [[nodiscard]] PIRP Take();

    [[nodiscard]] bool IsClosed();

    // Closes the holder, completes a held request with STATUS_CANCELLED and, at
    // PASSIVE_LEVEL, waits until no cancellation of a request it had is still
    // running (a cancel routine that won the race for it, or CancelHeldForFile
    // and CancelHeldForDevice completing it). Those call the hooks, so a class
    // that overrides them calls Close() first in its own destructor.
    void Close();

  protected:
    // Called around the completion of a request the holder cancels itself.
    // After the completion the IRP must not be touched; it only identifies it.
    virtual void BeforeCancelComplete(PIRP, NTSTATUS, ULONG_PTR) {}
    virtual void AfterCancelComplete(PIRP, NTSTATUS, ULONG_PTR) {}

  private:
    friend void CancelHeldForFile(PFILE_OBJECT fileObject);
    friend void CancelHeldForDevice(PDEVICE_OBJECT deviceObject, bool close);
    friend void DestroyHolderList(PVOID);

    // Membership of the driver-wide list.
    struct ListLink {
        LIST_ENTRY links;
        PendingIrpHolder* holder;
    };

    static VOID CancelHeld(PDEVICE_OBJECT deviceObject, PIRP irp);
    static void CompleteCancelled(PIRP irp);
    // With the lock held: a request armed with the cancel routine is done with;
    // true when Close() waits for this one.
    [[nodiscard]] bool DropArmedLocked();
    // Cancels the held requests of `fileObject`, or by device when `byDevice`.
    static void CancelMatching(PFILE_OBJECT fileObject, PDEVICE_OBJECT deviceObject, bool byDevice,
                               bool close);

    ListLink link_;
    PIRP heldIrp_ = nullptr;
    IrqlSpinLock lock_{kLockIrql};
    UCHAR closed_ = 0;
    // Requests armed with the cancel routine and not yet handed over or
    // completed after cancellation; guarded by the lock.
    LONG armed_ = 0;
    bool draining_ = false;
    KEVENT drained_;
};

// Sets up the driver-wide holder list (at entry).
void InitializeHolderList();
// Exit action: deletes every holder still on the list. By then only holders
// allocated with `new` can be left: embedded ones went with their devices.
void DestroyHolderList(PVOID context);

// Completes with STATUS_CANCELLED every held request whose current stack
// location names `fileObject`.
void CancelHeldForFile(PFILE_OBJECT fileObject);
// The same for requests of `deviceObject` (of any device when NULL); `close`
// also closes (or, when false, reopens) the holders that held them.
void CancelHeldForDevice(PDEVICE_OBJECT deviceObject, bool close);

}  // namespace framework
