// atcmd-trace's own command line: `atcmd-trace [/t] <program> [arguments...]`.
//
// The program's command line is the tail of atcmd-trace's own, passed on
// exactly as typed: only atcmd-trace's name and its /t are taken off. So the
// program sees spaces, quotes and backslashes as it would if started
// directly, whichever rules its runtime uses to split them.
#pragma once

#include <string>

struct TraceCommand {
    enum class Kind { Run, Usage, Help };
    Kind kind = Kind::Usage;
    bool timestamps = false;   // /t: each text prefixed by milliseconds since start
    std::wstring programLine;  // the program's command line, from its name on
    std::wstring program;      // the program's name, without quotes, for messages
};

// Splits the raw command line (GetCommandLineW) of atcmd-trace.
TraceCommand ParseTraceCommand(const std::wstring &commandLine);

// The first token of a command line by the rules the C runtime splits a
// program name by: each quote opens or closes a quoted part (no escapes: a
// file name holds no quote), and the token ends at the first space or tab
// outside one, so `"C:\Program Files\x"y.exe` and `a"b c"d` are each one
// name. The name is returned without its quotes; `rest` gets the text after
// the token and the blanks that follow it.
std::wstring ProgramName(const std::wstring &commandLine, std::wstring *rest);
