#include "debug_text.h"

namespace {

const std::uintptr_t kPieceAlignment = 4096;

// Offset of the terminator in `text`, or npos; a UTF-16 one starts at an
// even offset.
std::size_t TerminatorAt(const std::string &text, std::size_t from, bool unicode)
{
    if (!unicode)
        return text.find('\0', from);
    for (std::size_t at = from & ~std::size_t{1}; at + 1 < text.size(); at += 2) {
        if (text[at] == '\0' && text[at + 1] == '\0')
            return at;
    }
    return std::string::npos;
}

}  // namespace

std::string ReadDebugText(std::uintptr_t address, bool unicode, const ReadMemory &read)
{
    std::string text;
    while (text.size() < kDebugTextLimit) {
        std::uintptr_t at = address + text.size();
        std::size_t piece = kPieceAlignment - at % kPieceAlignment;
        std::size_t scanned = text.size();
        text.resize(scanned + piece);
        if (!read(at, &text[scanned], piece)) {
            text.resize(scanned);
            break;
        }
        std::size_t end = TerminatorAt(text, scanned, unicode);
        if (end != std::string::npos) {
            text.resize(end);
            return text;
        }
    }
    // Unreadable or unterminated: keep what was read, whole characters only.
    if (unicode)
        text.resize(text.size() & ~std::size_t{1});
    return text;
}
