// The debugger loop: runs a program as a debuggee of this process alone and
// hands over each of its debug-output texts as it arrives.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct DebuggeeEnd {
    DWORD startError = 0;       // nonzero: the program could not be started
    DWORD loopError = 0;        // nonzero: waiting for or continuing an event failed
    DWORD exitCode = 0;         // the program's exit code, once it has ended
    bool cpuKnown = false;      // cpuMilliseconds could be read
    ULONGLONG cpuMilliseconds = 0;  // the program's CPU time, user and kernel
    DWORD fatalException = 0;   // nonzero: the program ended by this unhandled exception
    ULONG_PTR fatalAddress = 0; // where that exception happened
};

// `text` holds the raw bytes without the terminator: UTF-16 when `unicode`.
using DebugTextSink = std::function<void(const std::string &text, bool unicode)>;

// Starts `commandLine` (its first token names the program, searched as
// CreateProcess does) and runs the debug loop until the program has ended.
DebuggeeEnd RunDebuggee(std::wstring commandLine, const DebugTextSink &onText);
