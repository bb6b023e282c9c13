#include "scriptgen/concatenation_logic.h"

#include "fragment_case.h"

namespace zov::filters {
namespace {

using testing::CapturedOutput;
using testing::Expect;
using testing::FragmentCase;

class ConcatenationLogicTest : public ::testing::TestWithParam<FragmentCase> {};

// The section written at level 0 with concatenation enabled.
TEST_P(ConcatenationLogicTest, WritesTheFragment) {
    std::vector<std::string> parameters{"CNEN01"};
    parameters.insert(parameters.end(), GetParam().parameters.begin(), GetParam().parameters.end());
    const ConfigTable config = testing::configFrom(parameters);
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    emitConcatenationLogic(config, writer);
    EXPECT_EQ(writer.level(), 0u);
    testing::expectFragment(out.text(), GetParam());
}

const std::string kPrependFirst =
    "if (IsInMemory(\"CNld1\") == 1)\n{\n\tOUT1.Data = RestoreStr(\"CNld1\") + OUT1.Data\n\tCNtx=1"
    "\n}\nelse\n{\n\tFreeMemory()\n\tSaveStr(OUT1.Data, \"CNld1\")\n\tCNsave=1\n}";

const std::string kDropWaiting =
    "\nif (OUT1.DataType == \"TimerExpired\")\n{\n\tmatch=1\n\tFreeMemory()\n\tSetNextLabel()"
    "\n\texit\n}\nelse\n{\n";

INSTANTIATE_TEST_SUITE_P(
    Criteria, ConcatenationLogicTest,
    ::testing::Values(
        FragmentCase{"SameCriteriaAtDefaults",
                     {},
                     Expect::Contains,
                     "\n\n# Concatenation logic\nCNtx=0\nCNsave=0"
                     "\nif ((OUT1.DataType == \"I2of5\") && (OUT1.DataLen == 1))\n{\n\tif "
                     "(IsInMemory(\"CNld1\")"
                     " == 1)\n\t{\n\t\tOUT1.Data = RestoreStr(\"CNld1\") + "
                     "OUT1.Data\n\t\tCNtx=1\n\t}\n\telse"
                     "\n\t{\n\t\tFreeMemory()\n\t\tSaveStr(OUT1.Data, "
                     "\"CNld1\")\n\t\tCNsave=1\n\t}\n}\n\nif (CNsave"},
        FragmentCase{"NoCriteriaNoCondition",
                     {"CNT100", "CNL10000", "CNT200", "CNL20000"},
                     Expect::Contains,
                     "\nCNsave=0\n" + kPrependFirst + "\n\nif (CNsave == 1)"},
        FragmentCase{
            "OnlySecondLabelHasACriterion",
            {"CNT100", "CNL10000", "CNT20A", "CNL20000"},
            Expect::Contains,
            "\nCNsave=0\nif ((OUT1.DataType == \"Code128\"))\n{\n\tif (IsInMemory(\"CNld1\") == 1)"
            "\n\t{\n\t\tOUT1.Data = RestoreStr(\"CNld1\") + OUT1.Data\n\t\tCNtx=1\n\t}\n\telse\n\t{"
            "\n\t\tFreeMemory()\n\t\tSaveStr(OUT1.Data, \"CNld2\")\n\t\tCNsave=1\n\t}\n}\nelse\n{"
            "\n\tif (IsInMemory(\"CNld2\") == 1)\n\t{\n\t\tOUT1.Data = OUT1.Data + "
            "RestoreStr(\"CNld2\")"
            "\n\t\tCNtx=1\n\t}\n\telse\n\t{\n\t\tFreeMemory()\n\t\tSaveStr(OUT1.Data, \"CNld1\")"
            "\n\t\tCNsave=1\n\t}\n}\n\nif (CNsave == 1)"},
        FragmentCase{"BothCriteriaDifferLengthOnly",
                     {"CNT100", "CNL10008", "CNT200", "CNL2000C"},
                     Expect::Contains,
                     "\nif ((OUT1.DataLen == 8))\n{\n\tif (IsInMemory(\"CNld2\") == 1)"},
        FragmentCase{
            "BothCriteriaSecondAsElseif",
            {"CNT100", "CNL10008", "CNT200", "CNL2000C"},
            Expect::Contains,
            "\n\t}\n}\nelseif ((OUT1.DataLen == 12))\n{\n\tif (IsInMemory(\"CNld1\") == 1)"},
        FragmentCase{"FirstLabelOnlyThenElse",
                     {"CNT200", "CNL20000"},
                     Expect::Contains,
                     "\n\t\tCNsave=1\n\t}\n}\nelse\n{\n\tif (IsInMemory(\"CNld1\") == 1)"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    TimeOut, ConcatenationLogicTest,
    ::testing::Values(
        FragmentCase{"FirstLabelPassedOn",
                     {"CNT200", "CNL20000", "CNTO03", "CNTT01"},
                     Expect::Contains,
                     "\nCNsave=0\nif (OUT1.DataType == \"TimerExpired\")\n{\n\tif "
                     "(IsInMemory(\"CNld1\") == 1)"
                     "\n\t{\n\t\tOUT1.Data = "
                     "RestoreStr(\"CNld1\")\n\t\tCNtx=1\n\t}\n\telse\n\t{\n\t\tmatch=1"
                     "\n\t\tFreeMemory()\n\t\tSetNextLabel()\n\t\texit\n\t}\n}\nelse\n{"
                     "\n\tif ((OUT1.DataType == \"I2of5\") && (OUT1.DataLen == 1))\n\t{"},
        FragmentCase{"TimerStartedTenTimesTheTimeOut",
                     {"CNTO03"},
                     Expect::Contains,
                     "\n\nif (CNsave == 1)\n{\n\tSpecialBeep(1, 0, 2, 2, 3)\n\tStartTimer(OUT1, 30)"
                     "\n\tSetNextLabel()\n\texit\n}"},
        FragmentCase{"LabelsInsideTheElseBlock",
                     {"CNTO03"},
                     Expect::Contains,
                     "\n}\nelse\n{\n\tif ((OUT1.DataType == \"I2of5\") && (OUT1.DataLen == 1))\n\t{"
                     "\n\t\tif (IsInMemory(\"CNld1\") == 1)"},
        FragmentCase{
            "SecondLabelPassedOn",
            {"CNTO01", "CNTT02"},
            Expect::Contains,
            "\n{\n\tif (IsInMemory(\"CNld2\") == 1)\n\t{\n\t\tOUT1.Data = RestoreStr(\"CNld2\")"
            "\n\t\tCNtx=1\n\t}\n\telse\n\t{\n\t\tmatch=1\n"},
        FragmentCase{"DropWaiting", {"CNTO0A", "CNTT00"}, Expect::Contains, kDropWaiting},
        FragmentCase{
            "LongestTimeOut", {"CNTOFF"}, Expect::Contains, "\n\tStartTimer(OUT1, 2550)\n"},
        FragmentCase{
            "TransmitAboveThreeDropsWaiting", {"CNTO01", "CNTT07"}, Expect::Contains, kDropWaiting},
        FragmentCase{"NoTimeOutNoBranch", {"CNTT01"}, Expect::Absent, "Timer"}),
    testing::caseName);

INSTANTIATE_TEST_SUITE_P(
    Joined, ConcatenationLogicTest,
    ::testing::Values(
        FragmentCase{"ResultTypeAndEmptyElse",
                     {"CNRT0A"},
                     Expect::EndsWith,
                     "\n}\nelseif (CNtx == 1)\n{\n\tOUT1.DataType = "
                     "\"Code128\"\n\tOUT1.DataLen=StrLen(OUT1.Data)"
                     "\n\tOUT1.BaseLen=OUT1.DataLen\n\n\tDoSLF(OUT1)\n\tFreeMemory()\n\tmatch=1\n}"
                     "\nelse\n{\n}"},
        FragmentCase{"ResultTypeZero", {"CNRT00"}, Expect::Contains, "\n\tOUT1.DataType = \"\"\n"},
        FragmentCase{
            "ResultTypeAboveTable", {"CNRT3A"}, Expect::Contains, "\n\tOUT1.DataType = \"\"\n"}),
    testing::caseName);

TEST(ConcatenationLogic, WritesNothingUnlessEnabled) {
    const ConfigTable config = testing::configFrom({"CNEN02", "CNTO05"});
    CapturedOutput out;
    ScriptWriter writer(out.sink());
    emitConcatenationLogic(config, writer);
    EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace zov::filters
