// C-style escapes in script text.
#pragma once

#include <string>

// Turns \r \n \t \\ \0 \" \xHH (one or two hex digits) into bytes; any other
// character stands for itself. Returns false and sets `error` on a bad escape.
bool Unescape(const std::string &text, std::string &bytes, std::string &error);

// The reverse, for diagnostics: printable ASCII as is, the rest escaped.
std::string Escape(const std::string &bytes);
