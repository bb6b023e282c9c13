#include "scriptgen/script_writer.h"

#include <gtest/gtest.h>

#include <limits>

#include "in_memory_streams.h"

namespace zov::filters {
namespace {

using testing::CapturedOutput;

TEST(ScriptWriter, BracesAtTheStatementsLevelContentOneDeeper) {
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    writer.emit("\nif (1)");
    writer.openBlock();
    writer.emit("\nouter");
    writer.openBlock();
    writer.emit("\ninner");
    writer.closeBlock();
    writer.closeBlock();
    EXPECT_EQ(out.text(), "\nif (1)\n{\n\touter\n\t{\n\t\tinner\n\t}\n}");
    EXPECT_EQ(writer.level(), 0u);
}

TEST(ScriptWriter, TabsFollowOnlyTheLastLineBreakOfARun) {
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    writer.openBlock();
    writer.emit("a\rb\r\nc\n\nd");
    writer.emit(" continued");
    writer.emit("\n");
    EXPECT_EQ(out.text(), "\n{a\n\tb\n\n\tc\n\n\td continued\n\t");
}

TEST(ScriptWriter, CloseBlockDoesNotGoBelowZero) {
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    writer.closeBlock();
    writer.emit("\nx");
    EXPECT_EQ(out.text(), "\n}\nx");
    EXPECT_EQ(writer.level(), 0u);
}

TEST(ScriptWriter, NumbersInDecimal) {
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    writer.openBlock();
    for (const std::int32_t value : {0, 30, -5, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()}) {
        writer.emitNumber(value);
        writer.emit(" ");
    }
    EXPECT_EQ(out.text(), "\n{0 30 -5 -2147483648 2147483647 ");
}

}  // namespace
}  // namespace zov::filters
