#include "response_recognition.h"

#include <boost/regex.hpp>
#include <istream>
#include <stdexcept>

#include "trace.h"

namespace {

const std::streamsize kLineBufferSize = 1024;
const char kErrorToken[] = "ERROR";

// What one extraction found.
struct ExtractedLine {
    std::string text;
    bool complete;  // its line feed was consumed
    bool piece;     // 1023 characters with more of the line waiting
};

// Extracts one line of at most 1023 characters. Returns false when nothing
// was left to extract. Counts the characters instead of trusting the
// terminator, so a NUL byte stays part of the line.
bool ExtractLine(std::iostream &stream, ExtractedLine &line)
{
    char buffer[kLineBufferSize];
    stream.getline(buffer, kLineBufferSize, '\n');
    std::streamsize consumed = stream.gcount();
    if (consumed == 0)
        return false;
    // getline counts the line feed it consumed but does not store it; it
    // sets eofbit when the text ended first and failbit when the buffer
    // filled first.
    line.piece = stream.fail();
    line.complete = !stream.eof() && !line.piece;
    std::streamsize stored = line.complete ? consumed - 1 : consumed;
    line.text.assign(buffer, static_cast<size_t>(stored));
    stream.clear();
    return true;
}

}  // namespace

int ScanResponseLines(std::iostream &stream, const char *expected, PartialLine partial)
{
    bool matched = false;
    for (;;) {
        std::streampos lineStart = stream.tellg();
        ExtractedLine extracted;
        if (!ExtractLine(stream, extracted))
            break;
        std::string line = TrimLineEnd(extracted.text);
        if (line.find(kErrorToken) != std::string::npos) {
            DebugTrace("read ERROR result");
            return kScanError;
        }
        bool unfinished = !extracted.complete && !extracted.piece;
        if ((!unfinished || partial == PartialLine::Quiet) && MatchResponse(line, expected)) {
            matched = true;
            break;
        }
        if (unfinished) {
            // Keep it for the next scan, when more of it may have come.
            stream.seekg(lineStart);
            break;
        }
    }
    stream.clear();
    return matched ? kScanMatched : kScanNothing;
}

std::string TrimLineEnd(const std::string &text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

bool MatchResponse(const std::string &line, const char *expected)
{
    boost::regex pattern;
    try {
        pattern.assign(expected);
    } catch (const boost::regex_error &) {
        return false;
    }
    try {
        boost::smatch what;
        return boost::regex_search(line, what, pattern, boost::match_extra);
    } catch (const std::runtime_error &e) {
        DebugTrace("regex search failed: %s\n", e.what());
        return false;
    }
}
