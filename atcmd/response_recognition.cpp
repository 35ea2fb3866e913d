#include "response_recognition.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "resumable_search.h"
#include "trace.h"

namespace {

const std::string_view kErrorToken = "ERROR";

// How far past a piece's end the search for "ERROR" looks: far enough
// for one that starts in the piece's last character.
const size_t kErrorLookahead = kErrorToken.size() - 1;

// One line of the unconsumed text, by position: no copy is made.
struct LineView {
    size_t begin;
    size_t end;       // its line feed, or where the text or the piece ends
    size_t next;      // where the following line starts
    bool unfinished;  // no line feed yet: more of it may come
    size_t errorEnd;  // where the search for "ERROR" ends: past `end` for a piece
};

// True when what follows a piece ending at `cut` is known well enough to
// tell whether "ERROR" crosses the cut: the look-ahead is all there, or a
// line end in it stops any "ERROR" short.
bool LookaheadKnown(const std::string &text, size_t cut)
{
    if (text.size() - cut >= kErrorLookahead)
        return true;
    return text.find_first_of("\r\n", cut) != std::string::npos;
}

// The line starting at `begin`, whose first `known` characters hold no
// line feed: up to its line feed, or a piece of kLineLimit characters once
// its look-ahead is known, or the unfinished rest of the text.
LineView NextLine(const std::string &text, size_t begin, size_t known)
{
    size_t searched = std::min(text.size() - begin, kLineLimit + 1);
    size_t skipped = std::min(known, searched);
    const void *lineFeed = memchr(text.data() + begin + skipped, '\n', searched - skipped);
    if (lineFeed != nullptr) {
        size_t end = static_cast<size_t>(static_cast<const char *>(lineFeed) - text.data());
        return LineView{begin, end, end + 1, false, end};
    }
    size_t cut = begin + kLineLimit;
    if (searched > kLineLimit && LookaheadKnown(text, cut))
        return LineView{begin, cut, cut, false, std::min(text.size(), cut + kErrorLookahead)};
    return LineView{begin, text.size(), text.size(), true, text.size()};
}

// Where the line's first carriage return lies, from its start (npos: none),
// looking only past what earlier scans have seen. The line holds no line
// feed, so that is where the examined text ends.
size_t CarriageReturn(const std::string &text, const LineView &line, const LineProgress &progress)
{
    if (progress.carriageReturn != std::string::npos)
        return progress.carriageReturn;
    size_t from = line.begin + std::min(progress.examined, line.end - line.begin);
    const void *found = memchr(text.data() + from, '\r', line.end - from);
    if (found == nullptr)
        return std::string::npos;
    return static_cast<size_t>(static_cast<const char *>(found) - text.data()) - line.begin;
}

// The text searched for "ERROR": the examined text, and for a piece of an
// over-long line that its end does not cut, the look-ahead past it.
std::string_view ErrorWindow(const std::string &text, const LineView &line, std::string_view examined)
{
    if (line.errorEnd == line.end || examined.size() < line.end - line.begin)
        return examined;
    std::string_view lookahead = TrimLineEnd(std::string_view(text.data() + line.end, line.errorEnd - line.end));
    return std::string_view(examined.data(), examined.size() + lookahead.size());
}

// True when "ERROR" lies in `window`, of which the first `seen` characters
// have been searched before: only what is new, and the token's length less
// one before it, is searched.
bool HoldsError(std::string_view window, size_t seen)
{
    size_t searched = std::min(seen, window.size());
    size_t from = searched > kErrorLookahead ? searched - kErrorLookahead : 0;
    return window.find(kErrorToken, from) != std::string_view::npos;
}

}  // namespace

// The C library's character classes: the default traits build a C++
// locale at the first compile, which costs more than the rest of a run's
// start-up, for the same classes in the "C" locale the program runs in.
using Regex = boost::basic_regex<char, boost::c_regex_traits<char>>;

struct ExpectedResponse::Pattern {
    Regex regex;
    // Reused by every search: a fresh one allocates its sub-matches anew,
    // once for each line of a flood.
    boost::cmatch what;
    // Whether an empty line matches, once asked: modems put an empty line
    // before every other.
    std::optional<bool> matchesEmptyLine;
    // Whether a search may start where the last one stopped; if not, every
    // search starts at the line's start.
    bool resumes;
};

ExpectedResponse::ExpectedResponse(const char *expected)
{
    try {
        pattern_.reset(new Pattern{Regex(expected), boost::cmatch(), std::nullopt, SearchCanResume(expected)});
    } catch (const boost::regex_error &e) {
        DebugTrace("regex compile failed: %s\n", e.what());
        return;
    }
    size_t from = 0;
    bool matches = FoundIn(std::string_view(""), from, false);
    pattern_->matchesEmptyLine = matches;
}

ExpectedResponse::~ExpectedResponse() = default;

bool ExpectedResponse::FoundIn(std::string_view line, size_t &from, bool mayGrow) const
{
    if (!pattern_)
        return false;
    if (line.empty() && pattern_->matchesEmptyLine.has_value())
        return *pattern_->matchesEmptyLine;
    const char *begin = line.data();
    const char *end = begin + line.size();
    try {
        // Searched where the line lies in the stream's buffer, without a
        // copy: a line may be as long as the line bound. The line's start
        // is the search's base, so anchors and look-behind see the text
        // before `from`. An expression that needs more work than the
        // library allows on it throws: no match.
        boost::cmatch &what = pattern_->what;
        if (!pattern_->resumes)
            from = 0;
        // A resumed search may find what a search from the line's start
        // does not (resumable_search.cpp): its match counts once that
        // search finds it too. A match ends the run, so that costs one
        // search a run, and one a scan where the library errs.
        if (boost::regex_search(begin + from, end, what, pattern_->regex, boost::match_extra, begin))
            return from == 0 || boost::regex_search(begin, end, what, pattern_->regex, boost::match_extra);
        if (!pattern_->resumes)
            return false;
        if (!mayGrow) {
            from = line.size();
            return false;
        }
        // A partial match marks the first place where more text could
        // still complete one; with none, a match can only begin at the end.
        if (boost::regex_search(begin + from, end, what, pattern_->regex, boost::match_partial, begin))
            from = static_cast<size_t>(what[0].first - begin);
        else
            from = line.size();
        return false;
    } catch (const std::runtime_error &e) {
        DebugTrace("regex search failed: %s\n", e.what());
        return false;
    }
}

AtResult ScanResponseLines(ResponseStream &stream, const ExpectedResponse &expected, PartialLine partial)
{
    const std::string &text = stream.Unconsumed();
    size_t consumed = 0;
    LineProgress progress = stream.Front();
    AtResult verdict = kAtUndecided;
    while (consumed < text.size()) {
        LineView line = NextLine(text, consumed, progress.examined);
        size_t length = line.end - line.begin;
        if (!line.unfinished && line.next == line.end)
            progress.matchFrom = 0;  // a piece ends short of the text searched before: judged afresh
        progress.carriageReturn = CarriageReturn(text, line, progress);
        std::string_view examined(text.data() + line.begin, std::min(progress.carriageReturn, length));
        if (HoldsError(ErrorWindow(text, line, examined), progress.examined)) {
            DebugTrace("read ERROR result");
            return kAtFailure;
        }
        progress.examined = length;
        bool carriageReturn = examined.size() < length;
        bool settled = !line.unfinished || carriageReturn || partial == PartialLine::Quiet;
        bool mayGrow = line.unfinished && !carriageReturn;
        if (settled && expected.FoundIn(examined, progress.matchFrom, mayGrow))
            verdict = kAtSuccess;
        if (line.unfinished)
            break;  // kept whole for the next scan, with what this one learnt of it
        consumed = line.next;
        progress = LineProgress();
        if (verdict == kAtSuccess)
            break;
    }
    stream.Consume(consumed, progress);
    return verdict;
}

std::string_view TrimLineEnd(std::string_view text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}
