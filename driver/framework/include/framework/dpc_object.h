// A DPC bound to a member function of its owner, which it calls with the DPC's
// two system arguments at DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

namespace framework {

template <typename Owner>
class DpcObject {
  public:
    using Routine = void (Owner::*)(PVOID systemArgument1, PVOID systemArgument2);

    DpcObject() = default;
    DpcObject(Owner* owner, Routine routine) { Initialize(owner, routine); }
    DpcObject(const DpcObject&) = delete;
    DpcObject& operator=(const DpcObject&) = delete;

    void Initialize(Owner* owner, Routine routine) {
        owner_ = owner;
        routine_ = routine;
        KeInitializeDpc(&dpc_, &DpcObject::Deferred, this);
    }
    // FALSE when it is already queued.
    bool Insert(PVOID systemArgument1 = nullptr, PVOID systemArgument2 = nullptr) {
        return KeInsertQueueDpc(&dpc_, systemArgument1, systemArgument2) != FALSE;
    }
    // TRUE when it was queued and is taken off the queue.
    bool Remove() { return KeRemoveQueueDpc(&dpc_) != FALSE; }
    [[nodiscard]] PKDPC Get() { return &dpc_; }

  private:
    static VOID Deferred(PKDPC, PVOID context, PVOID systemArgument1, PVOID systemArgument2) {
        auto* self = static_cast<DpcObject*>(context);
        (self->owner_->*self->routine_)(systemArgument1, systemArgument2);
    }

    KDPC dpc_{};
    Owner* owner_ = nullptr;
    Routine routine_ = nullptr;
};

}  // namespace framework
