#include "resumable_search.h"

// Boost.Regex reports a partial match when a test of the attempt fails at
// the end of the text. An attempt that failed without that report never
// looked past the end, so more text cannot change it, provided every
// construct of the expression either consumes a character (which fails at
// the end), or is an assertion that fails there when more text could make
// it hold (^ $ \A \z \Z \` \' \b \B \< \> and positive look-ahead: more
// text can only undo one that held, which prunes what failed anyway).
// Then a resumed search misses no match. It may find one that a search
// from the line's start does not: that search skips the positions that
// the library's map of where a match can start leaves out, a search's
// first position is not checked against it, and the map can be wrong
// (`^\Z.` in "ab\f\f" matches the second \f, which the map leaves out).
// So such a match is confirmed from the line's start (ExpectedResponse::FoundIn).
// Everything else is searched from the line's start:
// - look-behind tests the text before the position: after a repeat that
//   stopped at the end of the text it fails short of the end, which the
//   library does not report (`\s*?ab?(?<=b)` on "aa" misses "aab");
// - negative look-arounds and conditionals turn a test that held at the
//   end into a failure that match_partial does not report;
// - an option setting past the expression's start, \G, \X, atomic groups,
//   possessive quantifiers, backtracking verbs, back-references,
//   recursion, subroutine calls, \K, \R, \C, \N and any construct not
//   named above: nothing proves them sound.
// The expression is read as syntax throughout, sets, quoted text and
// comments too, so that text the library takes literally can only make the
// answer false; an escape is read as a pair of characters (\cX as three,
// \p \P \x with braces that hold letters and digits only) everywhere, so
// that the reading never runs past the end of such text.

namespace {

// Escaped letters and digits that keep the search resumable: classes,
// characters, quoting and the assertions named above.
const std::string_view kSoundEscapes = "dDwWsShHvVlLuUtnrfaexcpP0bBAzZQE";

// Escapes whose argument may stand in braces.
const std::string_view kBracedEscapes = "pPx";

// Option letters of (?imsx-imsx) and (?imsx-imsx:...).
const std::string_view kOptionLetters = "imsx-";

// What may stand between a quantifier and the + that makes it possessive:
// white space, which (?x) skips there.
const std::string_view kSpace = " \t\n\r\f\v";

bool IsLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// True when the group that "(?" opens, `rest` following, is sound; an
// option setting only when it opens the expression (`leading`).
bool SoundGroup(std::string_view rest, bool leading)
{
    if (rest.empty())
        return false;
    switch (rest[0]) {
    case ':':   // no capture
    case '=':   // positive look-ahead
    case '#':   // comment
    case '\'':  // named capture
        return true;
    case '<':  // named capture, not (?<= or (?<!
        return rest.size() > 1 && rest[1] != '=' && rest[1] != '!';
    case 'P':  // (?P<name>...), not (?P=name) or (?P>name)
        return rest.size() > 1 && rest[1] == '<';
    default:
        break;
    }
    size_t letters = rest.find_first_not_of(kOptionLetters);
    return leading && letters != 0 && letters != std::string_view::npos &&
           (rest[letters] == ')' || rest[letters] == ':');
}

// Where the escape whose letter is at `at` ends (its last character), or
// npos when it makes the expression unsound.
size_t SoundEscapeEnd(std::string_view expression, size_t at)
{
    char escaped = expression[at];
    if (IsLetterOrDigit(escaped) && kSoundEscapes.find(escaped) == std::string_view::npos)
        return std::string_view::npos;
    if (escaped == 'c')
        return at + 1;  // \cX: X names the control character, whatever it is
    if (kBracedEscapes.find(escaped) == std::string_view::npos || expression.substr(at + 1, 1) != "{")
        return at;
    // \p{L}, \x{41}: the closing brace is no repeat's. Only letters and
    // digits are skipped, so the reading cannot run past the end of quoted
    // text or a comment.
    size_t end = at + 2;
    while (end < expression.size() && IsLetterOrDigit(expression[end]))
        ++end;
    return end < expression.size() && expression[end] == '}' ? end : at;
}

}  // namespace

bool SearchCanResume(std::string_view expression)
{
    for (size_t at = 0; at < expression.size(); ++at) {
        char c = expression[at];
        std::string_view next = expression.substr(at + 1);
        if (c == '\\') {
            if (next.empty())
                return false;
            at = SoundEscapeEnd(expression, at + 1);
            if (at == std::string_view::npos)
                return false;
        } else if (c == '(') {
            if (!next.empty() && (next[0] == '*' || (next[0] == '?' && !SoundGroup(next.substr(1), at == 0))))
                return false;  // a verb, or an unsound group
        } else if (c == '*' || c == '+' || c == '?' || c == '}') {
            size_t after = next.find_first_not_of(kSpace);
            if (after != std::string_view::npos && next[after] == '+')
                return false;  // possessive
        }
    }
    return true;
}
