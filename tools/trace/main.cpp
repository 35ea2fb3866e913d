// atcmd-trace [/t] <program> [arguments...]: runs the program as a debuggee,
// writes its debug-output texts to standard output as they arrive, and exits
// with its exit code. The texts and messages are written by threads of their
// own: a stalled output never holds the program, nor its exit code.
#include <windows.h>

#include <cstdio>
#include <string>

#include "command_line.h"
#include "debug_loop.h"
#include "text_output.h"
#include "text_writer.h"

namespace {

// Exit code when no program ran to its end under atcmd-trace: no program
// given, it could not be started, or the debug loop failed. cmd uses it for
// a command it cannot run; it cannot be mistaken for atcmd's 1, -1 or -2.
const int kNotRun = 9009;

const char kUsage[] =
    "usage: atcmd-trace [/t] <program> [arguments...]\r\n"
    "\r\n"
    "Starts the program with the arguments as typed, writes each of its\r\n"
    "debug-output texts to standard output as it arrives, unchanged, and\r\n"
    "exits with the program's exit code. A last line on standard error gives\r\n"
    "that exit code, the run time and the program's CPU time.\r\n"
    "\r\n"
    "The program never waits for the output: texts that standard output does\r\n"
    "not take in time (1 MiB already waiting) are dropped, and the last line\r\n"
    "counts them. Once the program has ended, the output gets up to 250 ms\r\n"
    "for a write, and 2 s in all, to take what is left.\r\n"
    "\r\n"
    "  /t  put the milliseconds since the start before each text: \"[    15 ms] \"\r\n"
    "\r\n"
    "Exit code 9009: no program given, the program could not be started, or\r\n"
    "following it failed; standard error says why.\r\n";

// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
const DWORD kElevationRequired = 740;

void Report(TextWriter &errors, const std::string &text)
{
    errors.Add("atcmd-trace: " + text + "\r\n");
}

std::string ErrorText(DWORD error)
{
    return "error " + std::to_string(error) + ": " + ErrorMessage(error);
}

void ReportStartFailure(TextWriter &errors, const TraceCommand &command, DWORD error)
{
    Report(errors, "cannot start \"" + Narrow(command.program) + "\": " + ErrorText(error));
    if (error == kElevationRequired)
        Report(errors, "the program asks for administrator rights: run atcmd-trace from an elevated prompt");
    if (error == ERROR_NOT_SUPPORTED)
        Report(errors, "a 32-bit atcmd-trace cannot follow a 64-bit program: use the x64 atcmd-trace");
}

std::string Hex(unsigned long long value, int digits)
{
    char text[24];
    snprintf(text, sizeof text, "0x%0*llX", digits, value);
    return text;
}

// The last line, on standard error: the verdict stays visible at a prompt
// and in a log, beside the traces.
void ReportEnd(TextWriter &errors, const TraceCommand &command, const DebuggeeEnd &end, ULONGLONG elapsed,
               unsigned long long dropped)
{
    std::string cpu = end.cpuKnown ? std::to_string(end.cpuMilliseconds) + " ms" : "unknown";
    std::string lost = dropped ? "; " + std::to_string(dropped) + " texts dropped, standard output did not take them"
                               : "";
    Report(errors, "\"" + Narrow(command.program) + "\" ended with exit code " +
                       std::to_string(static_cast<int>(end.exitCode)) + " after " + std::to_string(elapsed) +
                       " ms, CPU " + cpu + lost);
}

// Each text is stamped and converted as it arrives, then queued whole for
// standard output.
class TextPrinter {
public:
    TextPrinter(bool timestamps, ULONGLONG start, TextWriter &output)
        : timestamps_(timestamps), start_(start), output_(output) {}

    void operator()(const std::string &text, bool unicode) const
    {
        output_.Add(Stamp() + (unicode ? Narrow(Wide(text)) : text));
    }

private:
    static std::wstring Wide(const std::string &bytes)
    {
        return std::wstring(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    std::string Stamp() const
    {
        if (!timestamps_)
            return std::string();
        char stamp[32];
        snprintf(stamp, sizeof stamp, "[%6llu ms] ", static_cast<unsigned long long>(GetTickCount64() - start_));
        return stamp;
    }

    bool timestamps_;
    ULONGLONG start_;
    TextWriter &output_;
};

// Runs the program to its end; returns atcmd-trace's exit code.
int Follow(const TraceCommand &command, TextWriter &errors)
{
    ULONGLONG start = GetTickCount64();
    TextWriter texts(GetStdHandle(STD_OUTPUT_HANDLE));
    TextPrinter printer(command.timestamps, start, texts);
    DebuggeeEnd end = RunDebuggee(command.programLine, printer);
    ULONGLONG elapsed = GetTickCount64() - start;
    unsigned long long dropped = texts.Finish();
    if (end.startError) {
        ReportStartFailure(errors, command, end.startError);
        return kNotRun;
    }
    if (end.loopError) {
        Report(errors, "lost the program: " + ErrorText(end.loopError));
        return kNotRun;
    }
    if (end.fatalException)
        Report(errors, "the program ended by exception " + Hex(end.fatalException, 8) + " at " +
                           Hex(end.fatalAddress, 2 * sizeof end.fatalAddress));
    ReportEnd(errors, command, end, elapsed, dropped);
    return static_cast<int>(end.exitCode);
}

}  // namespace

int main()
{
    TraceCommand command = ParseTraceCommand(GetCommandLineW());
    if (command.kind == TraceCommand::Kind::Help) {
        WriteText(GetStdHandle(STD_OUTPUT_HANDLE), kUsage);
        return 0;
    }
    if (command.kind == TraceCommand::Kind::Usage) {
        WriteText(GetStdHandle(STD_ERROR_HANDLE), kUsage);
        return kNotRun;
    }

    TextWriter errors(GetStdHandle(STD_ERROR_HANDLE));
    int exitCode = Follow(command, errors);
    errors.Finish();
    return exitCode;
}
