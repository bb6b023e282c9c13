// The filters as processes on input that is not a clean parameter file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "filter_process.h"

namespace zov::filters {
namespace {

using testing::runFilter;
using testing::runFilterOn;

constexpr std::string_view kEndLine = "\n\x04\n";

std::string randomBytes(std::size_t size, unsigned seed, bool withEndOfTransmission) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        do {
            c = static_cast<char>(byte(generator));
        } while (!withEndOfTransmission && c == '\x04');
    }
    return bytes;
}

// Random bytes, with parameter lines for real items sprinkled in, their
// values random too, so that the reader, the value decoding and every emitter
// see garbage. All formats and the concatenation are enabled first.
std::string garbage(unsigned seed, bool withEndOfTransmission) {
    constexpr const char* kIds[] = {"AFNM", "CNT1", "CNL1", "CNT2", "CNRT", "CNTO", "CNTT", "T1MT",
                                    "T1ML", "T1MC", "T1MP", "T1AC", "T1AT", "T1AN", "T1RF", "T2RR",
                                    "T21C", "T22S", "T23T", "T24R", "T25L", "T1A1", "T2A2", "T1TO",
                                    "T2TO", "T3TO", "T4TO", "T3MC", "T4AC", "T4SF"};
    std::string input =
        "$CCNEN01\n$CT1EN01\n$CT2EN01\n$CT3EN01\n$CT4EN01\n$CT1AE01\n$CT2RE01\n$CT3AE01\n";
    std::mt19937 generator(seed);
    for (int piece = 0; piece < 2000; ++piece) {
        input += randomBytes(generator() % 300, generator(), withEndOfTransmission && piece > 1900);
        input += std::string("\n$C") + kIds[generator() % std::size(kIds)] +
                 randomBytes(20, generator(), false) + "\n";
    }
    return input;
}

struct Filter {
    const char* name;
    const char* path;
};

void PrintTo(const Filter& filter, std::ostream* os) {
    *os << filter.name;
}

class BadInput : public ::testing::TestWithParam<Filter> {};

TEST_P(BadInput, ArbitraryBytesEndCleanly) {
    for (const bool withEndOfTransmission : {false, true}) {
        const auto run = runFilterOn(GetParam().path, garbage(7, withEndOfTransmission),
                                     std::string(GetParam().name) + ".garbage");
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_TRUE(run.output.ends_with(kEndLine));
    }
}

TEST_P(BadInput, ClosedStandardInputIsAnEmptyInput) {
    const auto run = runFilter(GetParam().path, "<&-", std::string(GetParam().name) + ".closed");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.output.ends_with(kEndLine));
    EXPECT_EQ(run.output.find("$C"), std::string::npos);
}

TEST_P(BadInput, UnterminatedLastLineIsRead) {
    const auto run = runFilterOn(GetParam().path, "# no end\r\n$CT1EN01\r\n$CAFNM01",
                                 std::string(GetParam().name) + ".unterminated");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.output.ends_with("\n$CAFNM01\n\x04\n") ||
                run.output.ends_with("\n$CT1EN01\n\x04\n"))
        << run.output;
    EXPECT_NE(run.output.find("$CAFNM01"), std::string::npos);
    EXPECT_NE(run.output.find("$CT1EN01"), std::string::npos);
}

TEST_P(BadInput, FailedOutputIsReported) {
    const std::string command = std::string("'") + GetParam().path + "' </dev/null >/dev/full";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

INSTANTIATE_TEST_SUITE_P(Filters, BadInput,
                         ::testing::Values(Filter{"scriptgen", SCRIPTGEN_PATH},
                                           Filter{"paramextract", PARAMEXTRACT_PATH}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Paramextract, CopiesParameterLinesOnlyUpToTheLimit) {
    const std::string longValue(114, '7');
    const std::string hugeLine = "$C" + std::string(1'000'000, 'x');
    const auto run =
        runFilterOn(PARAMEXTRACT_PATH,
                    "\xEF\xBB\xBF# script\n\t$CT1EN01\n$CT1EN\n$CXXXX00\n$CT1EN" + longValue +
                        "\r\n" + hugeLine + "\n$CT1EN01\n$CT1EN01\n\x04$CT2EN01\n",
                    "paramextract.lines");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "\n$CXXXX00\n$CT1EN" + longValue + "\n$C" + std::string(900, 'x') +
                              "\n$CT1EN01\n$CT1EN01\n\x04\n");
}

TEST(Scriptgen, LongAndNulLinesGetMessagesNotCrashes) {
    const std::string nuls(8, '\0');
    const auto run = runFilterOn(SCRIPTGEN_PATH,
                                 "$CT1A1" + std::string(200, '4') + "\n$CT1MC" + nuls + "\n$C" +
                                     nuls.substr(0, 6) + "\n\x04",
                                 "scriptgen.nul");
    EXPECT_EQ(run.exitStatus, 0);
    // The 206-character line is read as 102 + 102 + 2 characters; only the
    // first is a parameter line, and it sets T1A1 from its first 12 digits.
    EXPECT_NE(run.output.find("\n$CT1A1444444444444\n"), std::string::npos);
    EXPECT_NE(run.output.find(
                  "\nError: No ConfigID match for following line: " + nuls.substr(0, 6) + "\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("\n$CT1MC" + nuls + "\n"), std::string::npos)
        << "a value is repeated as it was read";
}

}  // namespace
}  // namespace zov::filters
