#include "scriptgen/config_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "in_memory_streams.h"
#include "scriptgen/data_type_names.h"
#include "scriptgen/hex_values.h"

namespace zov::filters {
namespace {

using testing::CapturedOutput;

TEST(ConfigItemTable, HoldsTheItemsInTrailerOrder) {
    ASSERT_EQ(kConfigItemTable.size(), 173u);
    EXPECT_EQ(kConfigItemTable.front().configID.view(), "AFNM");
    EXPECT_EQ(kConfigItemTable[8].configID.view(), "CNTT");
    EXPECT_EQ(kConfigItemTable[9].configID.view(), "T1EN");
    EXPECT_EQ(kConfigItemTable[9 + 41].configID.view(), "T2EN");
    EXPECT_EQ(kConfigItemTable[9 + 41 * 3 + 12].configID.view(), "T41C");
    EXPECT_EQ(kConfigItemTable.back().configID.view(), "T4SF");
    std::set<std::string_view> ids;
    for (const ConfigItemDefinition& item : kConfigItemTable) {
        EXPECT_EQ(item.defaultValue.size(), 2u * static_cast<std::size_t>(item.byteCount))
            << item.configID.view();
        EXPECT_EQ(item.configID.characters[4], '\0');
        ids.insert(item.configID.view());
    }
    EXPECT_EQ(ids.size(), 173u) << "ids are unique";
}

TEST(ConfigTable, StartsAtTheDefaults) {
    const ConfigTable config;
    EXPECT_EQ(config.getConfigCurInt("CNT1"), 38);
    EXPECT_EQ(config.getConfigCurInt("T11C"), 1);
    EXPECT_EQ(config.getConfigCurInt("T12C"), 0);
    EXPECT_EQ(config.getConfigCurQVEstr("T31S"), "\"\\x01\"");
    EXPECT_EQ(config.getConfigCurQVEstr("T4TO"), std::string_view("\x01\0\0\0\0\0\0\0\0\0", 10));
}

TEST(ConfigTable, UnknownIdsFailWithTheirMessage) {
    const ConfigTable config;
    try {
        (void)config.getConfigCurInt("t1en");
        FAIL() << "ids are case-sensitive";
    } catch (const ConfigLookupError& error) {
        EXPECT_STREQ(error.what(), "\nCan't find config ID in getConfigCurInt. config ID: t1en");
    }
    try {
        (void)config.getConfigCurQVEstr("T5MC");
        FAIL();
    } catch (const ConfigLookupError& error) {
        EXPECT_STREQ(error.what(), "\nCan't find config ID in getConfigCurQVEstr. config ID: T5MC");
    }
}

struct StoreCase {
    const char* name;
    std::string text;
    std::string message;
    const char* configID;
    std::string valueAfter;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
    *os << c.name;
}

class StoreParameterLineTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(StoreParameterLineTest, StoresOrReports) {
    const StoreCase& c = GetParam();
    ConfigTable config;
    CapturedOutput out;
    config.storeParameterLine(c.text, out.sink());
    EXPECT_EQ(out.text(), c.message);
    for (const ConfigItem& item : config.items()) {
        if (item.definition->configID.view() == c.configID) {
            EXPECT_EQ(item.valueText(), c.valueAfter);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StoreParameterLineTest,
    ::testing::Values(
        StoreCase{"Value", "CNEN01", "", "CNEN", "01"},
        StoreCase{"CharactersBeyondValueIgnored", "T1EN01FF", "", "T1EN", "01"},
        StoreCase{"ValueNotCheckedForDigits", std::string("T1MCzz\x01\0zzzz", 12), "", "T1MC",
                  std::string("zz\x01\0zzzz", 8)},
        StoreCase{"UnknownId", "XXXX00", "\nError: No ConfigID match for following line: XXXX00\n",
                  "AFNM", "00"},
        StoreCase{"LowerCaseId", "cnen01",
                  "\nError: No ConfigID match for following line: cnen01\n", "CNEN", "00"},
        StoreCase{"ShortValue", "T1A1414243",
                  "\nError: Not enough value data in following line: T1A1414243\n", "T1A1",
                  "000000000000"},
        StoreCase{"ShortId", "T1", "\nError: Not enough characters for ConfigID\n", "T1EN", "00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigTable, ConvertsEveryKind) {
    ConfigTable config;
    CapturedOutput out;
    for (const char* text : {"T1TO0108060102090A000000", "T1A1414243000000", "T2ML000C", "T2EN00",
                             "T2EN0g", "T3TOff"}) {
        config.storeParameterLine(text, out.sink());
    }
    config.convertValues();
    EXPECT_EQ(config.getConfigCurQVEstr("T1TO"),
              std::string_view("\x01\x08\x06\x01\x02\x09\x0A\0\0\0", 10));
    EXPECT_EQ(config.getConfigCurQVEstr("T1A1"), "\"ABC\"");
    EXPECT_EQ(config.getConfigCurInt("T2ML"), 12);
    EXPECT_EQ(config.getConfigCurInt("T2EN"), 16) << "the later line wins";
    EXPECT_EQ(out.text(), "\nError: Not enough value data in following line: T3TOff\n");
}

TEST(ParseHex, AcceptsEveryCharacter) {
    EXPECT_EQ(parseHex("26"), 38u);
    EXPECT_EQ(parseHex("fF"), 255u);
    EXPECT_EQ(parseHex("000C"), 12u);
    EXPECT_EQ(parseHex("0G"), 16u);
    EXPECT_EQ(parseHex("0g"), 16u);
    EXPECT_EQ(parseHex("\x01\x30"), 16u) << "below '0' a character counts as its code";
    EXPECT_EQ(parseHex("\xFF\xFF"), 168u * 16 + 168) << "bytes above 127 are not negative";
    EXPECT_EQ(parseHex(""), 0u);
}

TEST(HexToQuotedLiteral, EscapesAsTheScriptNeeds) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"41420D00", "\"AB\\r\""},
        {"22", "\"\\x22\""},
        {"7E", "\"\\x7E\""},
        {"7D", "\"}\""},
        {"5c", "\"\\\\\""},
        {"1b", "\"\\x1b\""},
        {"0708090A0C0D", "\"\\a\\b\\t\\n\\f\\r\""},
        {"20FF80", "\" \\xFF\\x80\""},
        {"00000000", "\"\""},
        {"0041", "\"\""},
        {"414", "\"A\""},
        {"G041", "\"A\""},
    };
    for (const auto& [hex, literal] : cases) {
        char out[32];
        const std::size_t length = hexToQuotedLiteral(hex, out);
        EXPECT_EQ(std::string_view(out, length), literal) << hex;
        EXPECT_EQ(out[length], '\0');
    }
}

TEST(HexToQuotedLiteral, StaysInsideTheBuffer) {
    char out[8];
    const std::size_t length = hexToQuotedLiteral("FFFFFFFF", out);
    EXPECT_EQ(std::string_view(out, length), "\"\\xFF\"");
}

TEST(DataTypeName, QuotedNamesAndTheEmptyLiteralOutsideTheTable) {
    EXPECT_EQ(dataTypeName(38), "\"I2of5\"");
    EXPECT_EQ(dataTypeName(39), "\"I2OF5_CIP\"");
    EXPECT_EQ(dataTypeName(1), "\"ABC_Codabar\"");
    EXPECT_EQ(dataTypeName(57), "\"UPCEP5\"");
    EXPECT_EQ(dataTypeName(0), kEmptyLiteral);
    EXPECT_EQ(dataTypeName(58), kEmptyLiteral);
    EXPECT_EQ(dataTypeName(-1), kEmptyLiteral);
}

}  // namespace
}  // namespace zov::filters
