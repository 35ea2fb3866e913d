// Recognition of the modem's answer, line by line.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "at_result.h"

// The longest line examined whole. A longer line is examined in pieces of
// this many characters, each judged as a line of its own, except that the
// search for "ERROR" looks past a piece's end into the next, so that one
// cut by the boundary still fails the run; this is the one place that
// keeps the response text, and so memory, bounded.
const size_t kLineLimit = 65536;

// How a trailing line without a line feed is treated.
enum class PartialLine {
    Growing,  // the last read filled its buffer: more of the line may follow at once
    Quiet,    // the last read ended short or brought nothing: the modem paused
};

// What earlier scans learnt of the unfinished line at the front of the
// unconsumed text, so that a scan looks at what came since, not at the
// whole line again: a line may be as long as the line bound.
struct LineProgress {
    size_t examined = 0;                        // characters seen: no line feed, no "ERROR" before a carriage return
    size_t carriageReturn = std::string::npos;  // its first carriage return, once seen
    size_t matchFrom = 0;                       // no match of the expected response begins before this
};

// The text of one transaction's answer that recognition has not consumed:
// at most one unfinished line plus the chunk appended since the last scan.
class ResponseStream {
public:
    void Append(const char *bytes, size_t count) { text_.append(bytes, count); }
    const std::string &Unconsumed() const { return text_; }
    const LineProgress &Front() const { return front_; }
    // Drops the first `count` characters, which have been judged; `front`
    // is what is known of the line that then comes first.
    void Consume(size_t count, const LineProgress &front = LineProgress())
    {
        text_.erase(0, count);
        front_ = front;
    }

private:
    std::string text_;
    LineProgress front_;
};

// The expected response (Perl syntax, case-sensitive), compiled once per
// transaction. A malformed expression is traced once, with the regex
// library's message, and never matches.
class ExpectedResponse {
public:
    explicit ExpectedResponse(const char *expected);
    ~ExpectedResponse();
    ExpectedResponse(const ExpectedResponse &) = delete;
    ExpectedResponse &operator=(const ExpectedResponse &) = delete;

    // True when the expression is found in `line` at or after `from`, the
    // text before it serving as context (anchors, look-behind). Without a
    // match, when the line `mayGrow`, `from` moves on to where a match could
    // still begin once more text arrives. An expression whose search cannot
    // resume (SearchCanResume) is searched in the whole line, `from` kept at
    // 0; a match found past the line's start counts only once a search of
    // the whole line finds one too. A search beyond the regex library's
    // limits is traced and is no match.
    bool FoundIn(std::string_view line, size_t &from, bool mayGrow) const;

private:
    struct Pattern;
    std::unique_ptr<Pattern> pattern_;  // null: malformed
};

// Examines the lines of `stream` not yet consumed. Complete lines are
// judged and consumed. A trailing partial line is left in place, so the
// next scan sees it whole once more has arrived: "ERROR" in it counts at
// once (more text cannot undo it); a match counts at once when it holds a
// carriage return (the examined text ends there and cannot change) or when
// `partial` is Quiet; after a full read it waits, so that no verdict
// depends on where a read cut the line. Returns kAtFailure (a line holds
// "ERROR"), kAtSuccess (a line holds the expected response) or kAtUndecided.
AtResult ScanResponseLines(ResponseStream &stream, const ExpectedResponse &expected,
                      PartialLine partial = PartialLine::Growing);

// The text up to, not including, its first carriage return or line feed.
std::string_view TrimLineEnd(std::string_view text);
