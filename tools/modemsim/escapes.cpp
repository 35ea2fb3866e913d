#include "escapes.h"

#include <cctype>
#include <cstdio>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool Unescape(const std::string &text, std::string &bytes, std::string &error)
{
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (++i == text.size()) {
            error = "backslash at the end of the text";
            return false;
        }
        switch (text[i]) {
        case 'r': bytes += '\r'; break;
        case 'n': bytes += '\n'; break;
        case 't': bytes += '\t'; break;
        case '0': bytes += '\0'; break;
        case '\\': bytes += '\\'; break;
        case '"': bytes += '"'; break;
        case 'x': {
            int value = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            if (value < 0) {
                error = "\\x without hex digits";
                return false;
            }
            ++i;
            int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            if (low >= 0) {
                value = value * 16 + low;
                ++i;
            }
            bytes += static_cast<char>(value);
            break;
        }
        default:
            error = std::string("unknown escape \\") + text[i];
            return false;
        }
    }
    return true;
}

std::string Escape(const std::string &bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        case '\\': text += "\\\\"; break;
        default:
            if (isprint(c)) {
                text += static_cast<char>(c);
            } else {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02X", c);
                text += hex;
            }
        }
    }
    return text;
}
