#include "response_recognition.h"
#include "resumable_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fake_win32.h"

namespace {

const size_t kReadSize = 127;

// Feeds the chunks one by one, scanning after each as the serial
// transaction does (a chunk of 127 bytes is a full read, any other a read
// that ended short), then once more as after a read that brought nothing
// when `quietAfter` is set; returns the first decisive verdict, or 0.
int ScanChunks(const std::vector<std::string> &chunks, const char *expected, bool quietAfter = false)
{
    ExpectedResponse compiled(expected);
    ResponseStream stream;
    for (const std::string &chunk : chunks) {
        stream.Append(chunk.data(), chunk.size());
        int verdict = ScanResponseLines(stream, compiled,
                                        chunk.size() == kReadSize ? PartialLine::Growing : PartialLine::Quiet);
        if (verdict != kAtUndecided)
            return verdict;
    }
    return quietAfter ? ScanResponseLines(stream, compiled, PartialLine::Quiet) : kAtUndecided;
}

// A full read that ends with `tail`, after a filler line.
std::string FullRead(const std::string &tail)
{
    return std::string(kReadSize - tail.size() - 2, '.') + "\r\n" + tail;
}

// `text` as the reads of a port that delivers it without pause.
std::vector<std::string> Reads(const std::string &text)
{
    std::vector<std::string> chunks;
    for (size_t at = 0; at < text.size(); at += kReadSize)
        chunks.push_back(text.substr(at, kReadSize));
    return chunks;
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

// Scans `stream` after a read as the transaction does, and a copy of its
// unconsumed text from scratch; `differs` is set unless both give the same
// verdict and leave the same rest. Returns the verdict from scratch.
int ScanBothWays(ResponseStream &stream, const ExpectedResponse &compiled, PartialLine partial, bool &differs)
{
    ResponseStream scratch;
    scratch.Append(stream.Unconsumed().data(), stream.Unconsumed().size());
    int verdict = ScanResponseLines(scratch, compiled, partial);
    differs |= ScanResponseLines(stream, compiled, partial) != verdict ||
               (verdict == kAtUndecided && stream.Unconsumed() != scratch.Unconsumed());
    return verdict;
}

// Where, cutting `text` into two reads of either kind, a scan that goes on
// where the last one left off differs from a scan from scratch, at any
// read or at the quiet read after them; "" when nowhere.
std::string DifferenceAtSomeCut(const std::string &text, const ExpectedResponse &compiled)
{
    const PartialLine kinds[] = {PartialLine::Growing, PartialLine::Quiet};
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        for (PartialLine first : kinds) {
            for (PartialLine second : kinds) {
                bool differs = false;
                ResponseStream stream;
                stream.Append(text.data(), cut);
                if (ScanBothWays(stream, compiled, first, differs) == kAtUndecided) {
                    stream.Append(text.data() + cut, text.size() - cut);
                    if (ScanBothWays(stream, compiled, second, differs) == kAtUndecided)
                        ScanBothWays(stream, compiled, PartialLine::Quiet, differs);
                }
                if (differs)
                    return "cut at " + std::to_string(cut) + (first == PartialLine::Quiet ? ", quiet" : ", full") +
                           (second == PartialLine::Quiet ? " then quiet" : " then full");
            }
        }
    }
    return "";
}

// However the reads cut the text, a scan that goes on where the last one
// left off gives, at every read, the verdict and the rest that a scan of
// the same text from scratch gives: at every cut of a short answer into
// two reads of either kind, and at random cuts of any answer.
TEST_P(ScanResponseLinesTest, SameAsAScanFromScratch)
{
    const ScanCase &c = GetParam();
    std::string text;
    for (const std::string &chunk : c.chunks)
        text += chunk;
    ExpectedResponse compiled(c.expected);
    if (text.size() <= 2 * kReadSize) {
        ASSERT_EQ(DifferenceAtSomeCut(text, compiled), "");
    }
    std::mt19937 random(24);
    for (int round = 0; round < 8; ++round) {
        ResponseStream stream;
        bool differs = false;
        for (size_t at = 0, size = 0; at < text.size(); at += size) {
            size = std::min(text.size() - at, random() % 2 ? kReadSize : 1 + random() % kReadSize);
            stream.Append(text.data() + at, size);
            PartialLine partial = size == kReadSize ? PartialLine::Growing : PartialLine::Quiet;
            int verdict = ScanBothWays(stream, compiled, partial, differs);
            ASSERT_FALSE(differs) << "round " << round << ", at " << at;
            if (verdict != kAtUndecided)
                break;
        }
    }
}

// A line many reads long, far short of the line bound.
const std::string kLongLine(1000, 'x');
// An operator list many reads long, the home operator last.
const std::string kCops = "\r\n+COPS: " + [] {
    std::string list;
    while (list.size() < 1650)
        list += "(1,\"Other\",\"OTH\",\"00101\",7),";
    return list + "(2,\"Home\",\"HOME\",\"26201\",7)";
}() + "\r\n\r\nOK\r\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, ScanResponseLinesTest,
    testing::Values(
        ScanCase{"EchoThenOk", {"AT\r\r\nOK\r\n"}, "OK", kAtSuccess},
        ScanCase{"PlainError", {"\r\nERROR\r\n"}, "OK", kAtFailure},
        ScanCase{"CmeError", {"\r\n+CME ERROR: 10\r\n"}, "OK", kAtFailure},
        ScanCase{"CmsError", {"\r\n+CMS ERROR: 456\r\n"}, "OK", kAtFailure},
        ScanCase{"LowerCaseErrorIsNoError", {"\r\nerror\r\n"}, "OK", kAtUndecided},
        ScanCase{"ErrorWinsOverMatch", {"\r\nERROR\r\n"}, "ERROR", kAtFailure},
        ScanCase{"ErrorBeforeOkInOneChunk", {"\r\nERROR\r\n\r\nOK\r\n"}, "OK", kAtFailure},
        ScanCase{"OkBeforeErrorInOneChunk", {"\r\nOK\r\n\r\nERROR\r\n"}, "OK", kAtSuccess},
        ScanCase{"SearchNotWholeLine", {"\r\nBOOK\r\n"}, "OK", kAtSuccess},
        ScanCase{"AnchoredInformation", {"\r\n+CSQ: 21,99\r\n\r\nOK\r\n"}, "^\\+CSQ", kAtSuccess},
        ScanCase{"EmptyExpectedMatchesEmptyLine", {"\r\n"}, "", kAtSuccess},
        ScanCase{"CaseSensitive", {"\r\nok\r\n"}, "OK", kAtUndecided},
        ScanCase{"UnknownCommandKeepsWaiting", {"\r\nUNKNOWN COMMAND\r\n"}, "OK", kAtUndecided},
        ScanCase{"NothingReadGivesNothing", {}, "OK", kAtUndecided, true},
        ScanCase{"TextAfterCarriageReturnDropped", {"A\rB\n"}, "B", kAtUndecided},
        ScanCase{"DoubleCarriageReturn", {"\r\n^MODE: 2\r\r\n"}, "^\\^MODE: 2$", kAtSuccess},
        // An unfinished line may match at once when the read that brought
        // it ended short (the modem paused) or it holds a carriage return;
        // at the end of a full read it waits for more or for a quiet read.
        ScanCase{"PromptAfterShortRead", {"\r\n> "}, "^> $", kAtSuccess},
        ScanCase{"PromptAtEndOfFullReadWaits", {FullRead("\r\n> ")}, "^> $", kAtUndecided},
        ScanCase{"PromptAtEndOfFullReadOnceQuiet", {FullRead("\r\n> ")}, "^> $", kAtSuccess, true},
        ScanCase{"CarriageReturnSettlesPartialLine", {FullRead("\r\nOK\r")}, "^OK$", kAtSuccess},
        ScanCase{"QuietAfterCompleteLinesOnly", {"\r\nOK\r\n"}, "^> $", kAtUndecided, true},
        ScanCase{"MalformedExpressionNeverMatches", {"\r\nOK\r\n"}, "(", kAtUndecided},
        ScanCase{"NulByteDoesNotCutLine", {std::string("A\0OK\r\n", 6)}, "OK", kAtSuccess},
        ScanCase{"NulByteBeforeError", {std::string("\0ERROR\r\n", 8)}, "OK", kAtFailure},
        // A line split over reads gives the verdict of the whole line.
        ScanCase{"OkSplit", {"O", "K\r\n"}, "OK", kAtSuccess},
        ScanCase{"ErrorSplit", {"ERR", "OR\r\n"}, "OK", kAtFailure},
        ScanCase{"ErrorSplitFine", {"\r\nE", "R", "R", "O", "R", "\r", "\n"}, "OK", kAtFailure},
        ScanCase{"PartialMatchAfterShortReadCounts", {"\r\n+CME", " ERROR: 10\r\n"}, "CME", kAtSuccess},
        ScanCase{"PartialMatchAfterFullReadThenError", {FullRead("\r\n+CME"), " ERROR: 10\r\n"}, "CME",
                 kAtFailure},
        ScanCase{"EmptyExpectedAfterFullReadWaitsForError", {std::string(126, 'x') + "E", "RROR\r\n"}, "",
                 kAtFailure},
        ScanCase{"EndAnchorAfterFullReadWaitsForWholeLine", {FullRead("\r\nOK"), "AY\r\n"}, "^OK$",
                 kAtUndecided},
        ScanCase{"AnchoredSplit", {"\r\n+C", "SQ: 2", "1,99\r\n"}, "^\\+CSQ: 21", kAtSuccess},
        // A search that goes on where the last one left off still sees the
        // text before: anchors, word boundaries and look-behind hold.
        ScanCase{"AnchorAfterPause", {"\r\nx", "OK\r\n"}, "^OK", kAtUndecided},
        ScanCase{"WordBoundaryAfterPause", {"\r\nBO", "OK\r\n"}, "\\bOK", kAtUndecided},
        ScanCase{"LookBehindAfterPause", {"\r\nx", "OK\r\n"}, "(?<=x)OK", kAtSuccess},
        // Where going on would change the verdict, the line is searched
        // from its start: what a test found at the end of the text may
        // change as more comes, or the search's start is part of the match.
        ScanCase{"NegativeLookAheadAtTheEndThenMore", {"OK", "x\r\n"}, "OK(?!$)", kAtSuccess},
        ScanCase{"NegativeLookAheadOfABoundaryThenMore", {"OK", "x"}, "OK(?!\\b)", kAtSuccess},
        ScanCase{"ConditionOnTheEndThenMore", {"a", "c", " "}, "a(?(?=\\w*$)b|c)", kAtSuccess},
        ScanCase{"VerbAfterPause", {" ", "ab"}, "(*COMMIT)ab", kAtUndecided},
        ScanCase{"SearchStartAfterPause", {"x", "OK"}, "\\GOK", kAtUndecided},
        ScanCase{"SearchStartAfterCarriageReturn", {FullRead("ab\r"), std::string(kReadSize, 'c')}, "\\G$",
                 kAtUndecided},
        ScanCase{"GraphemeAfterPause", {",", "C"}, "\\<\\X\\>", kAtUndecided},
        ScanCase{"LineCutByFullReadsExaminedWhole", Reads("\r\n+CSQ: " + std::string(300, '9') + "\r\n"),
                 "^\\+CSQ: 9+$", kAtSuccess},
        // A line up to the bound is examined whole, however many reads bring it.
        ScanCase{"ErrorInsideLongLine", {kLongLine + "ERROR\r\n"}, "OK", kAtFailure},
        ScanCase{"ErrorAcrossReadsOfALongLine", Reads(std::string(8 * kReadSize - 2, 'x') + "ERROR\r\n\r\nOK\r\n"),
                 "OK", kAtFailure},
        ScanCase{"MatchFarIntoALongLine", Reads(kCops), "^\\+COPS: .*\"26201\"", kAtSuccess},
        ScanCase{"LongLineThenQuiet", {kLongLine}, "x{1000}", kAtSuccess, true},
        ScanCase{"LineFeedAfterLongLineIsNoEmptyLine", {kLongLine, "\n"}, "^$", kAtUndecided},
        ScanCase{"LineFeedAfterLongLineEndsIt", {kLongLine, "\n"}, "^x{1000}$", kAtSuccess},
        // Past the bound a line is judged in pieces: the rest is a line of its own.
        ScanCase{"LinePastTheBoundInPieces", Reads(std::string(kLineLimit, 'x') + "OK\r\n"), "^OK$",
                 kAtSuccess},
        // "ERROR" cut by the bound still fails, before the first piece can match.
        ScanCase{"ErrorAcrossTheBound", Reads(std::string(kLineLimit - 3, 'x') + "ERROR\r\n"), "x",
                 kAtFailure},
        ScanCase{"ErrorAcrossTheBoundInOneChunk", {std::string(kLineLimit - 1, 'x') + "ERROR\r\n"}, "OK",
                 kAtFailure},
        // A piece is judged afresh, though the line's longer rest was searched before.
        ScanCase{"PieceEndAnchoredAfterPause", {std::string(kLineLimit - 2, 'x') + "abcd", "ef\r\n"}, "ab$",
                 kAtSuccess},
        ScanCase{"NoErrorAcrossTheBound", Reads(std::string(kLineLimit - 3, 'x') + "ERR\rOR\r\n"), "x",
                 kAtSuccess}),
    [](const testing::TestParamInfo<ScanCase> &info) { return std::string(info.param.name); });

TEST(ScanResponseLines, CompleteLinesAreNotExaminedTwice)
{
    // Once a complete line has been judged it must not come back when
    // later text arrives.
    ResponseStream stream;
    ExpectedResponse fine("^fine$");
    stream.Append("fine\n", 5);
    EXPECT_EQ(ScanResponseLines(stream, fine), kAtSuccess);
    stream.Append("x\n", 2);
    EXPECT_EQ(ScanResponseLines(stream, fine), kAtUndecided);
}

TEST(ScanResponseLines, KeepsOnlyTheUnfinishedLine)
{
    // However much the modem sends, what stays is at most one line of the
    // bound and one read.
    ResponseStream stream;
    ExpectedResponse never("^never$");
    std::string flood = "\r\n+CIEV: 7,1\r\n\r\n^MODE: 2\r\n";
    for (int i = 0; i < 2000; ++i) {
        stream.Append(flood.data(), flood.size());
        ASSERT_EQ(ScanResponseLines(stream, never), kAtUndecided);
    }
    EXPECT_EQ(stream.Unconsumed(), "");
    std::string endless(kReadSize, 'z');
    for (size_t sent = 0; sent < 3 * kLineLimit; sent += kReadSize) {
        stream.Append(endless.data(), endless.size());
        ASSERT_EQ(ScanResponseLines(stream, never), kAtUndecided);
        ASSERT_LE(stream.Unconsumed().size(), kLineLimit);
    }
}

struct TraceCase {
    const char *expected;
    std::vector<std::string> chunks;
    const char *trace;  // traced once, followed by the regex library's message
};

// An expression the regex library refuses, at compile time or in a search,
// never matches and is traced once per refusal, with the library's message.
TEST(ExpectedResponse, RefusalIsNoMatchTracedWithTheLibrarysMessage)
{
    const TraceCase cases[] = {
        {"(", {"\r\n(\r\n", "\r\nOK\r\n", "\r\n> "}, "regex compile failed: "},
        {"(x+x+)+y", {std::string(64, 'x') + "\r\n"}, "regex search failed: "},
    };
    for (const TraceCase &c : cases) {
        fake::Begin({});
        EXPECT_EQ(ScanChunks(c.chunks, c.expected, true), kAtUndecided) << c.expected;
        std::string traces = fake::Traced();
        size_t first = traces.find(c.trace);
        ASSERT_NE(first, std::string::npos) << traces;
        EXPECT_GT(traces.size(), first + strlen(c.trace) + 1) << traces;
        EXPECT_EQ(traces.find(c.trace, first + 1), std::string::npos) << traces;
    }
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

// Constructs of expressions, each a token: all those the allow-list names
// (lazy and greedy repeats, classes, sets, anchors, groups, option settings,
// look-arounds) and some it refuses, over the letters a and b, white space
// and \f, which ^ and \Z take for a line end.
const char *const kTokens[] = {
    "a", "b", "ab?", "\\s*?", "\\s*", "b+", "(?:a|ab)", "[^a]", ".", "\\w", "^", "$", "\\Z", "\\z",
    "\\A", "\\b", "\\B", "\\<", "\\>", "(?s)", "(?i)", "(?x)", "(?s:.)", "(?<n>a)", "(?#c)", "(?=b)",
    "(?<=b)", "(?<=\\s)", "(?!$)", "(?<!a)", "(?(?=\\w*$)\\s|b)", "\\p{L}+", "\\x{61}{2}",
};
const std::string kTexts[] = {"aab \r\n", "ab\f\f\r\n", "b a\fb\r\n", "a bb"};

// Every expression of up to three tokens that SearchCanResume lets resume
// gives, at every cut of each text, what a scan from scratch gives.
TEST(SearchCanResume, ResumedScanGivesTheVerdictFromScratch)
{
    fake::Begin({});  // for the traces of malformed expressions
    const size_t tokens = std::size(kTokens);
    std::vector<std::string> expressions = {""};
    for (size_t shorter = 0; expressions.size() < 1 + tokens * (1 + tokens * (1 + tokens)); ++shorter)
        for (const char *token : kTokens)
            expressions.push_back(expressions[shorter] + token);
    size_t resumable = 0, differing = 0;
    std::string first;
    for (const std::string &expression : expressions) {
        if (!SearchCanResume(expression))
            continue;
        ++resumable;
        ExpectedResponse compiled(expression.c_str());
        for (const std::string &text : kTexts) {
            std::string where = DifferenceAtSomeCut(text, compiled);
            if (!where.empty() && differing++ == 0)
                first = expression + " on " + testing::PrintToString(text) + ", " + where;
            if (!where.empty())
                break;
        }
    }
    EXPECT_EQ(differing, 0u) << "of " << resumable << " expressions; first: " << first;
}

}  // namespace
