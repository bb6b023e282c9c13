#include "scriptgen/format_logic.h"

#include "fragment_case.h"
#include "scriptgen/scriptgen.h"

namespace zov::filters {
namespace {

using testing::CapturedOutput;
using testing::Expect;
using testing::FragmentCase;

// Format 1's section, written at level 0.
std::string formatOne(const std::vector<std::string>& parameters) {
    const ConfigTable config = testing::configFrom(parameters);
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    emitFormatLogic(config, writer, '1');
    EXPECT_EQ(writer.level(), 0u);
    return out.text();
}

class FormatLogicTest : public ::testing::TestWithParam<FragmentCase> {};

TEST_P(FormatLogicTest, WritesTheFragment) {
    std::vector<std::string> parameters{"T1EN01"};
    parameters.insert(parameters.end(), GetParam().parameters.begin(), GetParam().parameters.end());
    testing::expectFragment(formatOne(parameters), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, FormatLogicTest,
    ::testing::Values(
        FragmentCase{
            "NothingToMatch", {}, Expect::Contains, "\n\n# Format 1 Logic\nif (1)\n{\n\tmatch=1\n"},
        FragmentCase{
            "TypeAndCharacters",
            {"T1MT26", "T1MC41420000", "T1MP0000"},
            Expect::Contains,
            "\nif ((OUT1.DataType == \"I2of5\") && (0 != FindSubStr(OUT1.Data, \"AB\", 1)))\n{"},
        FragmentCase{"LengthAndCharactersAtPosition",
                     {"T1ML000C", "T1MC2A000000", "T1MP0003"},
                     Expect::Contains,
                     "\nif ((OUT1.DataLen == 12) && (3 == FindSubStr(OUT1.Data, \"*\", 3)))\n{"},
        FragmentCase{"TypeAndLength",
                     {"T1MT39", "T1ML0100"},
                     Expect::Contains,
                     "\nif ((OUT1.DataType == \"UPCEP5\") && (OUT1.DataLen == 256))\n{"},
        FragmentCase{"PositionWithoutCharacters", {"T1MP0003"}, Expect::Contains, "\nif (1)\n{"},
        FragmentCase{"TypeOutsideTheTable",
                     {"T1MTFF"},
                     Expect::Contains,
                     "\nif ((OUT1.DataType == \"\"))\n{"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    Adjustments, FormatLogicTest,
    ::testing::Values(
        FragmentCase{"Append",
                     {"T1AE01", "T1AT00", "T1AC2C", "T1AN03"},
                     Expect::Contains,
                     "\n\tmatch=1\n\n\t# Format 1 Data Adjustment\n\tOUT1.Data = OUT1.Data + "
                     "\",,,\"\n\n\tFstart = 1"},
        FragmentCase{
            "AppendNothingSet", {"T1AE01"}, Expect::Contains, "\n\tOUT1.Data = OUT1.Data + \"\"\n"},
        FragmentCase{"AppendZeroTimes",
                     {"T1AE01", "T1AC2C", "T1AN00"},
                     Expect::Contains,
                     "\n\tOUT1.Data = OUT1.Data + \"\"\n"},
        FragmentCase{"PrependEscapedQuotes",
                     {"T1AE01", "T1AT01", "T1AC22", "T1AN03"},
                     Expect::Contains,
                     "\n\tOUT1.Data = \"\\x22\\x22\\x22\" + OUT1.Data\n"},
        FragmentCase{"LongestAdjustment",
                     {"T1AE01", "T1ACFF", "T1ANFF"},
                     Expect::Contains,
                     "\n\tOUT1.Data = OUT1.Data + \"" +
                         [] {
                             std::string text;
                             for (int i = 0; i < 255; ++i) text += "\\xFF";
                             return text;
                         }() +
                         "\"\n"},
        FragmentCase{"StripEnd",
                     {"T1AE01", "T1AT02", "T1AN05"},
                     Expect::Contains,
                     "\n\tStripBeginEndChars(OUT1, 0, 5)\n"},
        FragmentCase{"StripBegin",
                     {"T1AE01", "T1AT03", "T1AN02"},
                     Expect::Contains,
                     "\n\tStripBeginEndChars(OUT1, 2, 0)\n"},
        FragmentCase{"OtherTypeOnlyTheHeading",
                     {"T1AE01", "T1AT04"},
                     Expect::Contains,
                     "\n\n\t# Format 1 Data Adjustment\n\n\tFstart = 1"},
        FragmentCase{"NotEnabled", {"T1AE02", "T1AT03"}, Expect::Absent, "Adjustment"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    Replacements, FormatLogicTest,
    ::testing::Values(
        FragmentCase{
            "ReplacedFirstThenReplacement",
            {"T1RE01", "T1RF2C", "T1RR5C"},
            Expect::Contains,
            "\n\n\t# Format 1 Character Replacement\n\tnewStr = OUT1.Data\n\twhile (newStr != \"\")"
            "\n\t{\n\t\tOUT1.Data = newStr\n\t\tnewStr = StrSubstitute(newStr, \"\\\\\", "
            "\",\")\n\t}"
            "\n\n\tFstart = 1"},
        FragmentCase{"EmptyArgumentsStillWritten",
                     {"T1RE01"},
                     Expect::Contains,
                     "\n\t\tnewStr = StrSubstitute(newStr, \"\", \"\")\n"},
        FragmentCase{"NotEnabled", {"T1RE00", "T1RF2C"}, Expect::Absent, "Replacement"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    Fields, FormatLogicTest,
    ::testing::Values(
        FragmentCase{
            "SeparatorAtDefaults",
            {},
            Expect::Contains,
            "\n\tFstart = 1\n\n\t# Field 1: Field Separator\n\tFindex = FindSubStr(OUT1.Data, "
            "\"\\x01\", Fstart)"
            "\n\tif (Findex != 0)\n\t{\n\t\tF1str = Mid(OUT1.Data, Fstart, Findex - Fstart)"
            "\n\t\tFstart = Findex+1\n\t}\n\telse\n\t{\n\t\tF1str = \"\"\n\t}\n\n\t# Format 1 "
            "Transmit"},
        FragmentCase{"SeparatorKeptWithAppended",
                     {"T11S2F", "T11T02", "T11R2E00"},
                     Expect::Contains,
                     "\n\tFindex = FindSubStr(OUT1.Data, \"/\", Fstart)\n\tif (Findex != 0)\n\t{"
                     "\n\t\tF1str = Mid(OUT1.Data, Fstart, (Findex - Fstart) + 1) + \".\""
                     "\n\t\tFstart = Findex+1\n\t}\n\telse\n\t{\n\t\tF1str = \".\"\n\t}"},
        FragmentCase{
            "LengthWithAppended",
            {"T11C00", "T12C02", "T12L0004", "T12R0D0A"},
            Expect::Contains,
            "\n\tFstart = 1\n\n\t# Field 2: Field Length\n\tF2str = Mid(OUT1.Data, Fstart, 4)"
            "\n\tFstart = Fstart + StrLen(F2str)\n\tF2str = F2str + \"\\r\\n\"\n\n\t# Format 1"},
        FragmentCase{
            "LengthZero",
            {"T11C00", "T12C02", "T12L0000"},
            Expect::Contains,
            "\n\n\t# Field 2: Field Length\n\tF2str = \"\"\n\n\t# Format 1 Transmit Order"},
        FragmentCase{
            "MatchingCharacters",
            {"T11C00", "T13C03", "T13S30"},
            Expect::Contains,
            "\n\n\t# Field 3: Field of Matching Characters\n\tF3str = \"\""
            "\n\twhile (\"0\" == Mid(OUT1.Data, Fstart, 1))\n\t{\n\t\tF3str = F3str + \"0\""
            "\n\t\tFstart = Fstart + 1\n\t}\n\n\t# Format 1"},
        FragmentCase{"LastWithAppended",
                     {"T11C00", "T15C04", "T15R2E2E"},
                     Expect::Contains,
                     "\n\n\t# Field 5: Last Field\n\tF5str = Mid(OUT1.Data, Fstart, "
                     "(StrLen(OUT1.Data) - Fstart) + 1)"
                     "\n\tF5str = F5str + \"..\"\n\tFstart = StrLen(OUT1.Data)+1\n\n\t# Format 1"},
        FragmentCase{"UnknownKindNoSection", {"T11C05", "T12C00"}, Expect::Absent, "# Field"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    TransmitOrder, FormatLogicTest,
    ::testing::Values(
        FragmentCase{
            "Default",
            {},
            Expect::EndsWith,
            "\n\n\t# Format 1 Transmit Order\n\tOUT1.Data = \"\" + F1str"
            "\n\tOUT1.DataLen=StrLen(OUT1.Data)\n\tOUT1.BaseLen=OUT1.DataLen\n\n\tNoSLF(OUT1)\n}"},
        FragmentCase{
            "LengthAndAdditionalString",
            {"T1TO0108060102090A000000", "T1A1414243000000"},
            Expect::Contains,
            "\n\t# Format 1 Transmit Order\n\tAF1str = \"ABC\""
            "\n\tTxLen = 0 + StrLen(F1str) + StrLen(AF1str) + StrLen(F1str) + StrLen(F2str)"
            " + StrLen(OUT1.Data) + StrLen(origData)"
            "\n\tOUT1.Data = \"\" + F1str + IntToStr(TxLen) + AF1str + F1str + F2str + OUT1.Data"
            " + origData\n"},
        FragmentCase{"EmptySlotsAnywhereAndRepeats",
                     {"T1TO00070007000000000000", "T1A2202000000000"},
                     Expect::Contains,
                     "\n\t# Format 1 Transmit Order\n\tAF2str = \"  \"\n\tOUT1.Data = \"\" + "
                     "AF2str + AF2str\n"},
        FragmentCase{"CodesAboveTenSkipped",
                     {"T1TO080B01FF050000000000"},
                     Expect::Contains,
                     "\n\tTxLen = 0 + StrLen(F1str) + StrLen(F5str)"
                     "\n\tOUT1.Data = \"\" + IntToStr(TxLen) + F1str + F5str\n"},
        FragmentCase{
            "NoLengthWithoutCodeEight", {"T1TO01020304050607090A00"}, Expect::Absent, "TxLen"},
        FragmentCase{"ShiftFlag", {"T1SF01"}, Expect::EndsWith, "\n\n\tDoSLF(OUT1)\n}"},
        FragmentCase{"ShiftFlagOnlyOne", {"T1SF02"}, Expect::EndsWith, "\n\n\tNoSLF(OUT1)\n}"}),
    testing::caseName);

TEST(FormatLogic, DisabledFormatLeavesNoTrace) {
    EXPECT_EQ(formatOne({"T1EN02", "T1MT26", "T1AE01"}), "");
}

class ScriptBodyTest : public ::testing::TestWithParam<FragmentCase> {};

TEST_P(ScriptBodyTest, WritesTheFragment) {
    const ConfigTable config = testing::configFrom(GetParam().parameters);
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    emitScriptBody(config, writer);
    testing::expectFragment(out.text(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Frame, ScriptBodyTest,
    ::testing::Values(
        FragmentCase{"SavedDataBeforeTheFormats",
                     {"T2EN01"},
                     Expect::Contains,
                     "\n\tmatch=0\n\n\torigData = OUT1.Data\n\n\t# Format 2 Logic\n\tif (1)\n\t{"},
        FragmentCase{
            "NoMatchSetsNextLabel",
            {"T2EN01"},
            Expect::EndsWith,
            "\n\t}\n\n\t# No Match check\n\tif(match==0)\n\t{\n\t\tSetNextLabel()\n\t}\n}"},
        FragmentCase{"NoMatchFreesMemoryForConcatenation",
                     {"CNEN01", "AFNM01"},
                     Expect::EndsWith,
                     "\n\t# No Match check\n\tif(match==0)\n\t{\n\t\tFreeMemory()\n\t}\n}"},
        FragmentCase{"NoCheckWhenFormatsKeepUnmatchedLabels",
                     {"T1EN01", "AFNM01"},
                     Expect::Absent,
                     "No Match"},
        FragmentCase{"FormatsInOrder",
                     {"T4EN01", "T2EN01"},
                     Expect::Contains,
                     "\n\t\tNoSLF(OUT1)\n\t}\n\n\t# Format 4 Logic"}),
    testing::caseName);

}  // namespace
}  // namespace zov::filters
