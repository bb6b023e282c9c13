// Run-time library string routines: counted strings, conversions, _vsnprintf.
#include <gtest/gtest.h>

#include <string>

#include "kernel/rtl.h"

namespace {

std::u16string TextOf(const UNICODE_STRING& string) {
    return std::u16string(string.Buffer, string.Length / sizeof(WCHAR));
}

TEST(RtlStringTest, InitCountsBytesAndAcceptsNull) {
    UNICODE_STRING string;
    RtlInitUnicodeString(&string, u"COM5");
    EXPECT_EQ(string.Length, 8);
    EXPECT_EQ(string.MaximumLength, 10);
    RtlInitUnicodeString(&string, nullptr);
    EXPECT_EQ(string.Length, 0);
    EXPECT_EQ(string.MaximumLength, 0);
    EXPECT_EQ(string.Buffer, nullptr);

    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "9600,n,8,1");
    EXPECT_EQ(ansi.Length, 10);
    EXPECT_EQ(ansi.MaximumLength, 11);
}

TEST(RtlStringTest, CompareOrdersByCharactersThenLength) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool caseInsensitive;
        int sign;
    };
    const Case cases[] = {
        {u"COM5", u"COM5", false, 0},
        {u"COM5", u"com5", false, -1},
        {u"COM5", u"com5", true, 0},
        {u"COM", u"COM5", false, -1},
        {u"COM10", u"COM9", true, -1},
        {u"", u"", false, 0},
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true, 0},
    };
    for (const auto& c : cases) {
        UNICODE_STRING a, b;
        RtlInitUnicodeString(&a, c.a);
        RtlInitUnicodeString(&b, c.b);
        const LONG result = RtlCompareUnicodeString(&a, &b, c.caseInsensitive);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
        EXPECT_EQ(RtlEqualUnicodeString(&a, &b, c.caseInsensitive) != 0, c.sign == 0);
    }
}

TEST(RtlStringTest, CopyAndAppendStayWithinTheDestination) {
    WCHAR storage[8];
    std::fill(std::begin(storage), std::end(storage), u'#');
    UNICODE_STRING destination{0, 6 * sizeof(WCHAR), storage};
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, u"ABCDEFGH");
    RtlCopyUnicodeString(&destination, &source);  // truncated to the 6 characters of room
    EXPECT_EQ(TextOf(destination), u"ABCDEF");
    EXPECT_EQ(storage[6], u'#');

    RtlCopyUnicodeString(&destination, nullptr);
    EXPECT_EQ(destination.Length, 0);
    EXPECT_EQ(RtlAppendUnicodeToString(&destination, u"COM"), STATUS_SUCCESS);
    EXPECT_EQ(storage[3], 0);  // terminated while there is room
    UNICODE_STRING number;
    RtlInitUnicodeString(&number, u"12");
    EXPECT_EQ(RtlAppendUnicodeStringToString(&destination, &number), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(destination), u"COM12");
    EXPECT_EQ(RtlAppendUnicodeToString(&destination, u"34"), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(TextOf(destination), u"COM12");
    EXPECT_EQ(RtlAppendUnicodeToString(&destination, u"3"), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(destination), u"COM123");
    EXPECT_EQ(storage[6], u'#');  // full: no terminator written past MaximumLength
}

TEST(RtlStringTest, AnsiConversionAllocatesOrFillsTheGivenBuffer) {
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "caf\xe9");
    UNICODE_STRING allocated{};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&allocated, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(allocated), u"caf\u00e9");
    EXPECT_EQ(allocated.MaximumLength, 10);
    EXPECT_EQ(allocated.Buffer[4], 0);
    RtlFreeUnicodeString(&allocated);
    EXPECT_EQ(allocated.Buffer, nullptr);
    EXPECT_EQ(allocated.MaximumLength, 0);

    WCHAR storage[4] = {u'#', u'#', u'#', u'#'};
    UNICODE_STRING exact{0, sizeof storage, storage};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&exact, &ansi, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(exact), u"caf\u00e9");  // fills it, no room for a terminator
    UNICODE_STRING tooSmall{0, 6, storage};
    EXPECT_EQ(RtlAnsiStringToUnicodeString(&tooSmall, &ansi, FALSE), STATUS_BUFFER_OVERFLOW);

    ANSI_STRING back{};
    ASSERT_EQ(RtlUnicodeStringToAnsiString(&back, &exact, TRUE), STATUS_SUCCESS);
    EXPECT_STREQ(back.Buffer, "caf\xe9");
    RtlFreeAnsiString(&back);
}

TEST(RtlIntegerTest, UnicodeStringToIntegerTable) {
    struct Case {
        const char16_t* text;
        ULONG base;
        NTSTATUS status;
        ULONG value;
    };
    const Case cases[] = {
        {u"9600", 10, STATUS_SUCCESS, 9600},
        {u"  115200", 10, STATUS_SUCCESS, 115200},
        {u"-1", 10, STATUS_SUCCESS, 0xFFFFFFFF},
        {u"+8", 10, STATUS_SUCCESS, 8},
        {u"12x", 10, STATUS_SUCCESS, 12},  // stops at the first non-digit
        {u"1.5", 10, STATUS_SUCCESS, 1},
        {u"0x1F", 0, STATUS_SUCCESS, 0x1F},
        {u"0b101", 0, STATUS_SUCCESS, 5},
        {u"0o17", 0, STATUS_SUCCESS, 15},
        {u"017", 0, STATUS_SUCCESS, 17},
        {u"ff", 16, STATUS_SUCCESS, 255},
        {u"4294967297", 10, STATUS_SUCCESS, 1},  // wraps modulo 2^32
        {u"fast", 10, STATUS_INVALID_PARAMETER, 77},
        {u"", 10, STATUS_INVALID_PARAMETER, 77},
        {u"-", 10, STATUS_INVALID_PARAMETER, 77},
        {u"12", 7, STATUS_INVALID_PARAMETER, 77},
    };
    for (const auto& c : cases) {
        UNICODE_STRING string;
        RtlInitUnicodeString(&string, c.text);
        ULONG value = 77;
        EXPECT_EQ(RtlUnicodeStringToInteger(&string, c.base, &value), c.status)
            << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(value, c.value) << std::string(c.text, c.text + wcslen(c.text));
    }
    // Counted, not terminated: only Length bytes are read.
    WCHAR digits[] = {u'4', u'2', u'9'};
    UNICODE_STRING counted{4, 6, digits};
    ULONG value = 0;
    EXPECT_EQ(RtlUnicodeStringToInteger(&counted, 10, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 42u);
}

TEST(RtlIntegerTest, IntegerToUnicodeStringWritesDigitsThatFit) {
    WCHAR storage[5];
    UNICODE_STRING string{0, sizeof storage, storage};
    EXPECT_EQ(RtlIntegerToUnicodeString(1234, 10, &string), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(string), u"1234");
    EXPECT_EQ(storage[4], 0);
    EXPECT_EQ(RtlIntegerToUnicodeString(0xBEEF, 16, &string), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(string), u"BEEF");
    EXPECT_EQ(RtlIntegerToUnicodeString(0, 0, &string), STATUS_SUCCESS);
    EXPECT_EQ(TextOf(string), u"0");
    EXPECT_EQ(RtlIntegerToUnicodeString(123456, 10, &string), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(RtlIntegerToUnicodeString(5, 3, &string), STATUS_INVALID_PARAMETER);
}

TEST(RtlFormatTest, VsnprintfFollowsThePlatformWhenTheTextDoesNotFit) {
    char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "P%3.3d", 7), 4);
    EXPECT_STREQ(buffer, "P007");

    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(_snprintf(buffer, 4, "COM%d", 5), 4);  // exactly full: no terminator
    EXPECT_EQ(std::string(buffer, 5), "COM5#");

    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(_snprintf(buffer, 4, "COM%d", 10), -1);
    EXPECT_EQ(std::string(buffer, 5), "COM1#");

    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "%lu-%ld", ULONG{7}, LONG{-2}), 4);
    EXPECT_STREQ(buffer, "7--2");
    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "%I64x", ULONGLONG{0xABCDEF}), 6);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "%d%%", 5), 2);
    EXPECT_STREQ(buffer, "5%");
    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "%s", ""), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(RtlWideCharTest, WcschrFindsCharactersAndTheTerminator) {
    const WCHAR text[] = u"9600,n,8";
    EXPECT_EQ(wcslen(text), 8u);
    EXPECT_EQ(wcschr(text, u','), text + 4);
    EXPECT_EQ(wcschr(text, u'x'), nullptr);
    EXPECT_EQ(wcschr(text, u'\0'), text + 8);
    WCHAR mutableText[] = u"ab";
    *wcschr(mutableText, u'b') = u'c';
    EXPECT_EQ(std::u16string(mutableText), u"ac");
}

}  // namespace
