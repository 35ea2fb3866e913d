// Which expected responses a search may take up where the last one stopped.
#pragma once

#include <string_view>

// True when every construct of `expression` (Perl syntax) is one for which
// a search that starts where the last one on a shorter text stopped, that
// text's attempts having failed without a partial match, finds every match
// that a search of the whole line finds (a match that only it finds is
// ruled out by a search from the line's start). False for anything else:
// such an expression is searched from the line's start each time.
bool SearchCanResume(std::string_view expression);
