// Writing texts and Windows error messages to atcmd-trace's output streams.
#pragma once

#include <windows.h>

#include <string>

// Writes all of `text` to `handle`, unchanged (no line-end translation);
// false when the stream is closed or broken and the text was not written
// whole.
bool WriteText(HANDLE handle, const std::string &text);

// `text` in the ANSI code page, as Windows itself converts wide debug texts
// for a debugger that asked for ANSI ones.
std::string Narrow(const std::wstring &text);

// The system's message for a Windows error number, without its line end.
std::string ErrorMessage(DWORD error);
