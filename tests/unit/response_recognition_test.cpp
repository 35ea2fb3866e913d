#include "response_recognition.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Feeds the chunks one by one, scanning after each as the serial
// transaction does, then once more as after a read that brought nothing
// when `quietAfter` is set; returns the first decisive verdict, or 0.
int ScanChunks(const std::vector<std::string> &chunks, const char *expected, bool quietAfter = false)
{
    std::stringstream stream(std::ios::in | std::ios::out);
    for (const std::string &chunk : chunks) {
        stream.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        int verdict = ScanResponseLines(stream, expected);
        if (verdict != kScanNothing)
            return verdict;
        EXPECT_TRUE(stream.good());
    }
    return quietAfter ? ScanResponseLines(stream, expected, PartialLine::Quiet) : kScanNothing;
}

struct ScanCase {
    const char *name;
    std::vector<std::string> chunks;
    const char *expected;
    int verdict;
    bool quietAfter = false;
};

void PrintTo(const ScanCase &c, std::ostream *os) { *os << c.name; }

class ScanResponseLinesTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanResponseLinesTest, Verdict)
{
    const ScanCase &c = GetParam();
    EXPECT_EQ(ScanChunks(c.chunks, c.expected, c.quietAfter), c.verdict);
}

const std::string kLong1023(1023, 'x');

INSTANTIATE_TEST_SUITE_P(
    Answers, ScanResponseLinesTest,
    testing::Values(
        ScanCase{"EchoThenOk", {"AT\r\r\nOK\r\n"}, "OK", kScanMatched},
        ScanCase{"PlainError", {"\r\nERROR\r\n"}, "OK", kScanError},
        ScanCase{"CmeError", {"\r\n+CME ERROR: 10\r\n"}, "OK", kScanError},
        ScanCase{"CmsError", {"\r\n+CMS ERROR: 456\r\n"}, "OK", kScanError},
        ScanCase{"LowerCaseErrorIsNoError", {"\r\nerror\r\n"}, "OK", kScanNothing},
        ScanCase{"ErrorWinsOverMatch", {"\r\nERROR\r\n"}, "ERROR", kScanError},
        ScanCase{"ErrorBeforeOkInOneChunk", {"\r\nERROR\r\n\r\nOK\r\n"}, "OK", kScanError},
        ScanCase{"OkBeforeErrorInOneChunk", {"\r\nOK\r\n\r\nERROR\r\n"}, "OK", kScanMatched},
        ScanCase{"SearchNotWholeLine", {"\r\nBOOK\r\n"}, "OK", kScanMatched},
        ScanCase{"AnchoredInformation", {"\r\n+CSQ: 21,99\r\n\r\nOK\r\n"}, "^\\+CSQ", kScanMatched},
        ScanCase{"EmptyExpectedMatchesEmptyLine", {"\r\n"}, "", kScanMatched},
        ScanCase{"CaseSensitive", {"\r\nok\r\n"}, "OK", kScanNothing},
        ScanCase{"UnknownCommandKeepsWaiting", {"\r\nUNKNOWN COMMAND\r\n"}, "OK", kScanNothing},
        ScanCase{"TextAfterCarriageReturnDropped", {"A\rB\n"}, "B", kScanNothing},
        ScanCase{"DoubleCarriageReturn", {"\r\n^MODE: 2\r\r\n"}, "^\\^MODE: 2$", kScanMatched},
        // An unfinished line matches only once the modem has gone quiet.
        ScanCase{"PromptWhileGrowing", {"\r\n> "}, "^> $", kScanNothing},
        ScanCase{"PromptOnceQuiet", {"\r\n> "}, "^> $", kScanMatched, true},
        ScanCase{"QuietAfterCompleteLinesOnly", {"\r\nOK\r\n"}, "^> $", kScanNothing, true},
        ScanCase{"MalformedExpressionNeverMatches", {"\r\nOK\r\n"}, "(", kScanNothing},
        ScanCase{"NulByteDoesNotCutLine", {std::string("A\0OK\r\n", 6)}, "OK", kScanMatched},
        ScanCase{"NulByteBeforeError", {std::string("\0ERROR\r\n", 8)}, "OK", kScanError},
        // A line split over reads is judged whole once the rest has come.
        ScanCase{"OkSplit", {"O", "K\r\n"}, "OK", kScanMatched},
        ScanCase{"ErrorSplit", {"ERR", "OR\r\n"}, "OK", kScanError},
        ScanCase{"ErrorSplitFine", {"\r\nE", "R", "R", "O", "R", "\r", "\n"}, "OK", kScanError},
        ScanCase{"PartialMatchThenError", {"\r\n+CME", " ERROR: 10\r\n"}, "CME", kScanError},
        ScanCase{"EmptyExpectedWaitsForError", {"E", "RROR\r\n"}, "", kScanError},
        ScanCase{"EndAnchorWaitsForWholeLine", {"\r\nOK", "AY\r\n"}, "^OK$", kScanNothing},
        ScanCase{"AnchoredSplit", {"\r\n+C", "SQ: 2", "1,99\r\n"}, "^\\+CSQ: 21", kScanMatched},
        // Long lines are judged in 1023-character pieces, never dropped.
        ScanCase{"ErrorInsideOverlongLine", {kLong1023 + "ERROR\r\n"}, "OK", kScanError},
        ScanCase{"ErrorAtEndOfFirstPiece", {std::string(1018, 'x') + "ERROR" + "yy\r\n"}, "OK",
                 kScanError},
        ScanCase{"Exactly1023ThenEnd", {kLong1023}, "x{1023}", kScanMatched, true},
        ScanCase{"LineFeedAfter1023IsNoEmptyLine", {kLong1023, "\n"}, "^$", kScanNothing},
        ScanCase{"LineFeedAfter1023EndsThatLine", {kLong1023, "\n"}, "^x{1023}$", kScanMatched}),
    [](const testing::TestParamInfo<ScanCase> &info) { return std::string(info.param.name); });

TEST(ScanResponseLines, EmptyStreamStaysGood)
{
    std::stringstream stream(std::ios::in | std::ios::out);
    EXPECT_EQ(ScanResponseLines(stream, "OK"), kScanNothing);
    EXPECT_TRUE(stream.good());
}

TEST(ScanResponseLines, CompleteLinesAreNotExaminedTwice)
{
    // Once a complete line has been judged it must not come back when
    // later text arrives.
    std::stringstream stream(std::ios::in | std::ios::out);
    stream << "fine\n";
    EXPECT_EQ(ScanResponseLines(stream, "^fine$"), kScanMatched);
    stream << "x\n";
    EXPECT_EQ(ScanResponseLines(stream, "^fine$"), kScanNothing);
}

TEST(ScanResponseLines, OverlongLineDoesNotStall)
{
    // 2000 characters without a line feed, arriving in reads of 127: the
    // pieces are consumed as they fill, so a final OK is still seen.
    std::vector<std::string> chunks;
    for (int i = 0; i < 16; ++i)
        chunks.push_back(std::string(125, 'z'));
    chunks.push_back("\r\nOK\r\n");
    EXPECT_EQ(ScanChunks(chunks, "^OK$"), kScanMatched);
}

struct TrimCase {
    const char *text;
    const char *trimmed;
};

TEST(TrimLineEnd, CutsAtFirstLineEnd)
{
    const TrimCase cases[] = {
        {"OK\r\n", "OK"}, {"OK\r", "OK"}, {"A\rB", "A"}, {"A\nB", "A"}, {"plain", "plain"}, {"", ""},
        {"\r\n", ""},
    };
    for (const TrimCase &c : cases)
        EXPECT_EQ(TrimLineEnd(c.text), c.trimmed) << c.text;
}

TEST(MatchResponse, CatastrophicSearchIsNoMatchNotACrash)
{
    testing::internal::CaptureStderr();
    bool matched = MatchResponse(std::string(64, 'x'), "(x+x+)+y");
    std::string traces = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(matched);
    EXPECT_NE(traces.find("regex search failed"), std::string::npos) << traces;
}

}  // namespace
