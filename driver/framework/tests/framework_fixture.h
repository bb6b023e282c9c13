// A test's simulated system with a loaded driver that owns one device object,
// and a clean registry. Leftover pool, handles or objects fail the test at its end.
#pragma once

#include <gtest/gtest.h>

#include <wdm.h>

#include "framework/driver_globals.h"
#include "sim/io.h"
#include "sim/registry.h"
#include "sim/system.h"

namespace framework::testing {

inline VOID UnloadTestDriver(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject != nullptr) IoDeleteDevice(driver->DeviceObject);
}

inline NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->DriverUnload = &UnloadTestDriver;
    PDEVICE_OBJECT device = nullptr;
    return IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
}

class FrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::registry::Reset();
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        driver_ = sim::LoadDriver(
            u"\\Driver\\zovtest", &TestDriverEntry,
            u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovtest", &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        TheDriverObject = driver_;
    }
    void TearDown() override {
        sim::Settle();
        TheDriverObject = nullptr;
        if (driver_ != nullptr) sim::UnloadDriver(driver_);
        EXPECT_TRUE(sim::registry::OpenHandles().empty());
    }

    [[nodiscard]] PDEVICE_OBJECT Device() const { return driver_->DeviceObject; }

    sim::System system_;
    PDRIVER_OBJECT driver_ = nullptr;
};

}  // namespace framework::testing
