// CountedString: growth, editing, conversions, formatting and raising storage.
#include <gmock/gmock.h>

#include <string>

#include "framework/counted_string.h"
#include "framework/pool.h"
#include "framework_fixture.h"
#include "sim/faults.h"

namespace framework {
namespace {

using CountedStringTest = testing::FrameworkTest;

std::u16string TextOf(const CountedString& string) {
    return std::u16string(string.Text(), string.LengthInCharacters());
}

NTSTATUS RaisedBy(auto&& action) {
    try {
        action();
    } catch (const kernel::StatusException& exception) {
        return exception.Status();
    }
    return STATUS_SUCCESS;
}

TEST_F(CountedStringTest, GrowsInStepsOfSixtyFourCharactersKeepingTheTerminator) {
    CountedString string;
    const std::u16string sixtyThree(63, u'a');
    string.Assign(sixtyThree.c_str());
    EXPECT_EQ(string.Get()->Length, 126);
    EXPECT_EQ(string.Get()->MaximumLength, 128);

    string.Append(u'b');  // 63 + 1 reaches the capacity of 64
    EXPECT_EQ(string.Get()->Length, 128);
    EXPECT_EQ(string.Get()->MaximumLength, 256);
    EXPECT_EQ(string.At(63), u'b');
    EXPECT_EQ(string.Text()[64], 0);

    string.Append(u"cd", 2);
    EXPECT_EQ(string.Get()->MaximumLength, 256);  // still room
    EXPECT_EQ(TextOf(string), sixtyThree + u"bcd");
    EXPECT_EQ(string.Text()[66], 0);

    string.Free();
    EXPECT_EQ(string.Get()->Buffer, nullptr);
    EXPECT_EQ(string.Get()->MaximumLength, 0);
}

TEST_F(CountedStringTest, AppendingItsOwnTextSurvivesTheReallocation) {
    CountedString string;
    string.Assign(std::u16string(60, u'x').c_str());
    string.Append(u"yz", 2);               // 62 characters in a 64-character buffer
    string.Append(string.Text() + 58, 4);  // forces growth while reading the old buffer
    EXPECT_EQ(TextOf(string), std::u16string(60, u'x') + u"yzxxyz");

    string.Assign(string.Text() + 60, 2);  // part of itself
    EXPECT_EQ(TextOf(string), u"yz");
    string.Assign(string);
    EXPECT_EQ(TextOf(string), u"yz");
}

TEST_F(CountedStringTest, EditingAndSearching) {
    CountedString string;
    string.Assign(u" \t9600,e,7,1\n ");
    string.TrimLeft();
    string.TrimRight();
    EXPECT_EQ(TextOf(string), u"9600,e,7,1");
    EXPECT_EQ(string.Find(u','), 4);
    EXPECT_EQ(string.Find(u'x'), -1);

    struct Case {
        SIZE_T start, count;
        std::u16string expected;
    };
    const Case cases[] = {{0, 4, u"9600"}, {5, 1, u"e"}, {9, 10, u"1"}, {10, 3, u""}, {40, 2, u""}};
    for (const auto& c : cases) {
        auto part = string.Substring(c.start, c.count);
        EXPECT_EQ(std::u16string(part.Text() ? part.Text() : u"", part.LengthInCharacters()),
                  c.expected);
    }
    EXPECT_EQ(string.Substring(0, 4).ToInteger(), 9600u);

    CountedString upper;
    upper.Assign(u"COM5");
    EXPECT_EQ(upper.Compare(u"com5", true), 0);
    EXPECT_NE(upper.Compare(u"com5", false), 0);
    EXPECT_LT(upper.Compare(u"COM6", false), 0);
    CountedString lower;
    lower.Assign(u"com5");
    EXPECT_EQ(upper.Compare(lower), 0);
}

TEST_F(CountedStringTest, ToIntegerRaisesForTextThatIsNoNumber) {
    CountedString string;
    string.Assign(u"fast");
    EXPECT_EQ(RaisedBy([&] { (void)string.ToInteger(); }), STATUS_INVALID_PARAMETER);
    NarrowCountedString narrow;
    narrow.Assign("1200");
    EXPECT_EQ(narrow.ToInteger(), 1200u);
}

TEST_F(CountedStringTest, AssignsFromAnsiText) {
    CountedString string;
    string.AssignAnsi("COM12 trailing", 5);
    EXPECT_EQ(TextOf(string), u"COM12");
    EXPECT_EQ(string.Text()[5], 0);
    string.AssignAnsi(nullptr, 3);
    EXPECT_EQ(string.LengthInCharacters(), 0u);
}

TEST_F(CountedStringTest, FormatsIntoTheNarrowString) {
    NarrowCountedString string;
    string.Format("\\Device\\ZOVUSBVirtualPort%3.3d", 7);
    EXPECT_STREQ(string.Text(), "\\Device\\ZOVUSBVirtualPort007");

    const std::string longText(300, 'q');  // several retries beyond the first guess
    string.Format("%s|%d", longText.c_str(), 42);
    EXPECT_EQ(std::string(string.Text()), longText + "|42");

    // An empty result is a valid empty string, not a reason to retry for ever.
    string.Format("%s", "");
    EXPECT_EQ(string.LengthInCharacters(), 0u);
    EXPECT_STREQ(string.Text(), "");
}

TEST_F(CountedStringTest, StorageFailureRaisesAndLeavesTheStringAsItWas) {
    CountedString string;
    string.Assign(u"COM5");
    sim::AddFault({.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = 1});
    EXPECT_EQ(RaisedBy([&] { string.Append(std::u16string(100, u'z').c_str(), 100); }),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(TextOf(string), u"COM5");
    EXPECT_EQ(sim::InjectedFailures(), 1u);

    // Beyond what the 16-bit header can describe.
    EXPECT_EQ(RaisedBy([&] { string.Reserve(40000); }), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(TextOf(string), u"COM5");
}

}  // namespace
}  // namespace framework
