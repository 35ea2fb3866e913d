// Recognition of the modem's answer, line by line.
#pragma once

#include <iosfwd>
#include <string>

// Verdicts of ScanResponseLines.
const int kScanError = -1;    // a line holds "ERROR"
const int kScanNothing = 0;   // nothing decisive yet
const int kScanMatched = 1;   // a line holds the expected response

// How a trailing line without a line feed is treated.
enum class PartialLine {
    Growing,  // more of it may come: only an error in it counts yet
    Quiet,    // the modem has gone quiet: it may also match
};

// Examines the lines of `stream` not yet consumed. Complete lines are
// consumed. A trailing partial line is left in place, so the next scan sees
// it whole once the rest has arrived: "ERROR" in it counts at once (more
// text cannot undo it), a match only once it is complete or quiet, so that
// no verdict depends on where the reads cut the line. A line of 1023
// characters followed by more text is examined as a piece and consumed.
// Leaves the stream good on the 0 and 1 verdicts.
int ScanResponseLines(std::iostream &stream, const char *expected,
                      PartialLine partial = PartialLine::Growing);

// The text up to, not including, its first carriage return or line feed.
std::string TrimLineEnd(const std::string &text);

// True when the regular expression `expected` (Perl syntax) is found
// anywhere in `line`. A malformed expression, or a search beyond the regex
// library's limits, is no match.
bool MatchResponse(const std::string &line, const char *expected);
