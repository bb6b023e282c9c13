// Including this header in a GoogleTest program prints the tail of the IRP log
// (when the log is enabled and not empty) after each failed assertion.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

#include "sim/irp_log.h"

namespace sim {

class IrpLogTailOnFailure : public ::testing::EmptyTestEventListener {
  public:
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        const std::string tail = IrpLogTail(20);
        if (!tail.empty()) std::fprintf(stderr, "IRP log (latest last):\n%s", tail.c_str());
    }
};

inline const bool irpLogTailOnFailureInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new IrpLogTailOnFailure);
    return true;
}();

}  // namespace sim
