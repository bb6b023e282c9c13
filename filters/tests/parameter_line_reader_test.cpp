#include "common/parameter_line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "in_memory_streams.h"

namespace zov::filters {
namespace {

using testing::CapturedOutput;
using testing::TextSource;

std::vector<std::string> readAll(const std::string& input, std::size_t maxLength,
                                 std::size_t chunkSize) {
    TextSource source(input, chunkSize);
    InputSource in(source.reader());
    ParameterLineReader reader(in, maxLength);
    std::vector<char> text(maxLength + 1);
    std::vector<std::string> lines;
    while (const std::size_t length = reader.readParameterLine(text)) {
        EXPECT_EQ(text[length], '\0');
        lines.emplace_back(text.data(), length);
    }
    EXPECT_EQ(reader.readParameterLine(text), 0u) << "the end is final";
    return lines;
}

struct ReaderCase {
    const char* name;
    std::string input;
    std::size_t maxLength;
    std::vector<std::string> expected;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

class ParameterLineReaderTest : public ::testing::TestWithParam<ReaderCase> {};

// Every case is read whole, byte by byte and in small pieces, so that lines
// crossing buffer refills read the same.
TEST_P(ParameterLineReaderTest, ReadsTheAcceptedLines) {
    const ReaderCase& c = GetParam();
    for (const std::size_t chunkSize : {std::string::npos, std::size_t{1}, std::size_t{7}}) {
        SCOPED_TRACE(chunkSize);
        EXPECT_EQ(readAll(c.input, c.maxLength, chunkSize), c.expected);
    }
}

const std::string kHundredA(100, 'A');
const std::string kForty(40, 'B');

INSTANTIATE_TEST_SUITE_P(
    Lines, ParameterLineReaderTest,
    ::testing::Values(
        ReaderCase{"OnlyParameterLinesOfEightOrMore",
                   "$CCNEN01\n$CT2MT1\n$cT1EN01\n# comment\n$CXXXX00\nC$CT1EN01\n\x04",
                   100,
                   {"CNEN01", "XXXX00"}},
        ReaderCase{"LineEndingsAndBlankLinesAreEqual",
                   "\r\n$CT1EN01\r\n\r\n\n$CT2EN01\r$CT3EN01\n\x04",
                   100,
                   {"T1EN01", "T2EN01", "T3EN01"}},
        ReaderCase{"NonAsciiSkippedBeforeLineKeptInside",
                   "\xEF\xBB\xBF$CT1EN01\n\x80\xFF$CT1MC\xE9\xFF\n\x04",
                   100,
                   {"T1EN01", "T1MC\xE9\xFF"}},
        ReaderCase{"LongLineContinuesAsNextLine",
                   "$C" + kHundredA + "$CT1EN01" + kForty + "\n\x04",
                   100,
                   {kHundredA, "T1EN01" + kForty}},
        ReaderCase{"FullLineThenItsLineFeed",
                   "$C" + kHundredA + "\n$CT1EN01\n\x04",
                   100,
                   {kHundredA, "T1EN01"}},
        ReaderCase{"LongerLimitKeepsLongLine",
                   "$CT1EN01" + std::string(112, 'x') + "\n\x04",
                   900,
                   {"T1EN01" + std::string(112, 'x')}},
        ReaderCase{"EndOfTransmissionInsideLineDropsIt",
                   "$CT1EN01\n$CT2EN01\x04$CT3EN01\n",
                   100,
                   {"T1EN01"}},
        ReaderCase{"NothingAfterEndOfTransmission", "\n\n\x04$CT1EN01\n", 100, {}},
        ReaderCase{"UnterminatedLastLineCounts", "$CT1EN01\n$CT2EN01", 100, {"T1EN01", "T2EN01"}},
        ReaderCase{"EmptyInput", "", 100, {}},
        ReaderCase{"NulBytesAreCharacters",
                   std::string("$CT1EN\0\0\n$C\0\0\0\0\0\0\n\x04", 20),
                   100,
                   {std::string("T1EN\0\0", 6), std::string(6, '\0')}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParameterLineReader, AsksForNothingAfterTheEndOfTransmission) {
    const std::string input = "$CT1EN01\n\x04$CT2EN01\n\x04";
    TextSource source(input, 1);
    InputSource in(source.reader());
    ParameterLineReader reader(in, 100);
    char text[101];
    EXPECT_EQ(reader.readParameterLine(text), 6u);
    EXPECT_EQ(reader.readParameterLine(text), 0u);
    EXPECT_EQ(reader.readParameterLine(text), 0u);
    EXPECT_EQ(source.handedOut(), input.find('\x04') + 1);
}

}  // namespace
}  // namespace zov::filters
