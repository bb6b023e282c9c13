// One case per golden pair under golden/: NAME.in (or examples/NAME.txt) and
// the script NAME.out derived by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "filter_process.h"

namespace zov::filters {
namespace {

using testing::readFile;
using testing::runFilterOn;

std::vector<std::string> goldenNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(GOLDEN_DIR)) {
        if (entry.path().extension() == ".out") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string goldenInput(const std::string& name) {
    const std::filesystem::path own = std::filesystem::path(GOLDEN_DIR) / (name + ".in");
    if (std::filesystem::exists(own)) return readFile(own);
    return readFile(std::filesystem::path(EXAMPLES_DIR) / (name + ".txt"));
}

std::string goldenOutput(const std::string& name) {
    return readFile(std::filesystem::path(GOLDEN_DIR) / (name + ".out"));
}

// The script as scriptgen writes it for input without bad lines: every
// message ("\nError: ...\n") taken out.
std::string withoutMessages(std::string script) {
    constexpr std::string_view kMessageStart = "\nError: ";
    for (std::size_t at; (at = script.find(kMessageStart)) != std::string::npos;) {
        const std::size_t end = script.find('\n', at + 1);
        script.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    }
    return script;
}

class GoldenScript : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenScript, ScriptgenWritesTheGoldenScript) {
    const auto run = runFilterOn(SCRIPTGEN_PATH, goldenInput(GetParam()), GetParam() + ".script");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, goldenOutput(GetParam()));
}

// scriptgen | paramextract gives the trailer's parameter lines, and scriptgen
// on those, or on the script itself, gives the script again (without the
// messages of bad input lines); paramextract keeps its own output as it is.
TEST_P(GoldenScript, RoundTripGivesTheSameScript) {
    const std::string script = goldenOutput(GetParam());
    constexpr std::string_view kHeading = "\n\n# Advanced Formatting Parameters";
    const std::size_t trailer = script.rfind(kHeading);
    ASSERT_NE(trailer, std::string::npos);

    const auto parameters = runFilterOn(PARAMEXTRACT_PATH, script, GetParam() + ".parameters");
    EXPECT_EQ(parameters.exitStatus, 0);
    EXPECT_EQ(parameters.output, script.substr(trailer + kHeading.size()));

    const std::string expected = withoutMessages(script);
    const auto again = runFilterOn(SCRIPTGEN_PATH, parameters.output, GetParam() + ".again");
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(again.output, expected);

    const auto extractedAgain =
        runFilterOn(PARAMEXTRACT_PATH, parameters.output, GetParam() + ".parameters-again");
    EXPECT_EQ(extractedAgain.output, parameters.output);

    const auto direct = runFilterOn(SCRIPTGEN_PATH, script, GetParam() + ".direct");
    EXPECT_EQ(direct.exitStatus, 0);
    EXPECT_EQ(direct.output, expected);
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenScript, ::testing::ValuesIn(goldenNames()),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace zov::filters
