#include "response_recognition.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <cstring>
#include <stdexcept>
#include <string_view>

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

// The line starting at `begin`: up to its line feed, or a piece of
// kLineLimit characters once its look-ahead is known, or the unfinished
// rest of the text.
LineView NextLine(const std::string &text, size_t begin)
{
    size_t searched = std::min(text.size() - begin, kLineLimit + 1);
    const void *lineFeed = memchr(text.data() + begin, '\n', searched);
    if (lineFeed != nullptr) {
        size_t end = static_cast<size_t>(static_cast<const char *>(lineFeed) - text.data());
        return LineView{begin, end, end + 1, false, end};
    }
    size_t cut = begin + kLineLimit;
    if (searched > kLineLimit && LookaheadKnown(text, cut))
        return LineView{begin, cut, cut, false, std::min(text.size(), cut + kErrorLookahead)};
    return LineView{begin, text.size(), text.size(), true, text.size()};
}

}  // namespace

struct ExpectedResponse::Pattern {
    boost::regex regex;
};

ExpectedResponse::ExpectedResponse(const char *expected)
{
    try {
        pattern_.reset(new Pattern{boost::regex(expected)});
    } catch (const boost::regex_error &e) {
        DebugTrace("regex compile failed: %s\n", e.what());
    }
}

ExpectedResponse::~ExpectedResponse() = default;

bool ExpectedResponse::FoundIn(const char *begin, const char *end) const
{
    if (!pattern_)
        return false;
    try {
        // Searched where the line lies in the stream's buffer, without a
        // copy: a line may be as long as the line bound. An expression that
        // needs more work than the library allows on it throws: no match.
        boost::cmatch what;
        return boost::regex_search(begin, end, what, pattern_->regex, boost::match_extra);
    } catch (const std::runtime_error &e) {
        DebugTrace("regex search failed: %s\n", e.what());
        return false;
    }
}

int ScanResponseLines(ResponseStream &stream, const ExpectedResponse &expected, PartialLine partial)
{
    const std::string &text = stream.Unconsumed();
    size_t consumed = 0;
    int verdict = kScanNothing;
    while (consumed < text.size()) {
        LineView line = NextLine(text, consumed);
        std::string_view whole(text.data() + line.begin, line.end - line.begin);
        std::string_view examined = TrimLineEnd(whole);
        // Only a piece of an over-long line is searched past its end.
        std::string_view searchedForError =
            line.errorEnd == line.end
                ? examined
                : TrimLineEnd(std::string_view(text.data() + line.begin, line.errorEnd - line.begin));
        if (searchedForError.find(kErrorToken) != std::string_view::npos) {
            DebugTrace("read ERROR result");
            return kScanError;
        }
        bool carriageReturn = examined.size() < whole.size();
        bool settled = !line.unfinished || carriageReturn || partial == PartialLine::Quiet;
        if (settled && expected.FoundIn(examined.data(), examined.data() + examined.size()))
            verdict = kScanMatched;
        if (line.unfinished)
            break;  // kept whole for the next scan
        consumed = line.next;
        if (verdict == kScanMatched)
            break;
    }
    stream.Consume(consumed);
    return verdict;
}

std::string_view TrimLineEnd(std::string_view text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}
