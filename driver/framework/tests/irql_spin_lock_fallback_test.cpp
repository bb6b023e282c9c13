// IrqlSpinLock on a kernel that does not export the DPC-level routines by name:
// the lock falls back to the linked routines and still excludes.
#include <gtest/gtest.h>

#include <thread>

#include "framework/irql_spin_lock.h"
#include "framework_fixture.h"

namespace framework {
namespace {

using IrqlSpinLockFallbackTest = testing::FrameworkTest;

TEST_F(IrqlSpinLockFallbackTest, WorksWithoutTheNamedRoutines) {
    // Hidden before the first lock of this process is built, which resolves them.
    sim::SetSystemRoutineAvailable(u"KefAcquireSpinLockAtDpcLevel", false);
    UNICODE_STRING name = RTL_CONSTANT_STRING(u"KefAcquireSpinLockAtDpcLevel");
    ASSERT_EQ(MmGetSystemRoutineAddress(&name), nullptr);

    IrqlSpinLock lock(PROFILE_LEVEL);
    long total = 0;
    auto worker = [&] {
        for (int round = 0; round < 200; ++round) {
            lock.Acquire();
            EXPECT_EQ(KeGetCurrentIrql(), PROFILE_LEVEL);
            ++total;
            lock.Release();
        }
    };
    std::thread a = sim::StartThread(worker);
    std::thread b = sim::StartThread(worker);
    sim::Join(a);
    sim::Join(b);
    EXPECT_EQ(total, 400);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
}  // namespace framework
