// Table rows for the emitter tests: parameter texts in, a fragment that the
// output must hold, must end with, or must not hold.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "in_memory_streams.h"
#include "scriptgen/config_table.h"

namespace zov::filters::testing {

enum class Expect { Contains, EndsWith, Absent };

struct FragmentCase {
    const char* name;
    std::vector<std::string> parameters;  // texts after "$C"
    Expect expect;
    std::string fragment;
};

inline void PrintTo(const FragmentCase& c, std::ostream* os) {
    *os << c.name;
}

// The table after reading the parameter texts, converted.
inline ConfigTable configFrom(const std::vector<std::string>& parameters) {
    ConfigTable config;
    CapturedOutput messages;
    for (const std::string& text : parameters) config.storeParameterLine(text, messages.sink());
    EXPECT_EQ(messages.text(), "");
    config.convertValues();
    return config;
}

inline void expectFragment(const std::string& output, const FragmentCase& c) {
    switch (c.expect) {
        case Expect::Contains:
            EXPECT_THAT(output, ::testing::HasSubstr(c.fragment));
            break;
        case Expect::EndsWith:
            EXPECT_THAT(output, ::testing::EndsWith(c.fragment));
            break;
        case Expect::Absent:
            EXPECT_THAT(output, ::testing::Not(::testing::HasSubstr(c.fragment)));
            break;
    }
}

inline std::string caseName(const ::testing::TestParamInfo<FragmentCase>& info) {
    return info.param.name;
}

}  // namespace zov::filters::testing
