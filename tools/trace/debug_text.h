// Reading a debug-output text out of the debugged program's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Copies `size` bytes at `address` of the debugged program into `buffer`;
// false when that memory cannot be read.
using ReadMemory = std::function<bool(std::uintptr_t address, void *buffer, std::size_t size)>;

// A text past this many bytes is taken to be unterminated memory, not a text.
const std::size_t kDebugTextLimit = 16u << 20;

// The text at `address`, up to its terminating NUL (one byte, or two for a
// UTF-16 text), without the terminator: the raw bytes, UTF-16 ones included.
//
// The event's length field is not used: it holds only the low 16 bits of the
// length. The text is read in pieces that never cross a 4 KiB boundary, so
// every piece starts in memory the text occupies and lies in one page: no
// piece can fail short of the terminator, however near a page end it lies.
std::string ReadDebugText(std::uintptr_t address, bool unicode, const ReadMemory &read);
