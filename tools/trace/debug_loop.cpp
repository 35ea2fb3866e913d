#include "debug_loop.h"

#include "debug_text.h"
#include "handle_guard.h"

namespace {

// The initial breakpoint of a 32-bit program under a 64-bit debugger.
const DWORD kWow64Breakpoint = 0x4000001F;

// One debuggee's events; each handler returns the continue status.
class DebugSession {
public:
    DebugSession(const PROCESS_INFORMATION &process, const DebugTextSink &onText)
        : process_(process), onText_(onText) {}

    DWORD Handle(const DEBUG_EVENT &event, DebuggeeEnd &end)
    {
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            // The image file handle is the debugger's to close; the process
            // and thread handles are the system's.
            CloseFileHandle(event.u.CreateProcessInfo.hFile);
            return DBG_CONTINUE;
        case LOAD_DLL_DEBUG_EVENT:
            CloseFileHandle(event.u.LoadDll.hFile);
            return DBG_CONTINUE;
        case OUTPUT_DEBUG_STRING_EVENT:
            PassText(event.u.DebugString);
            return DBG_CONTINUE;
        case EXCEPTION_DEBUG_EVENT:
            return Exception(event.u.Exception, end);
        case EXIT_PROCESS_DEBUG_EVENT:
            if (event.dwProcessId == process_.dwProcessId) {
                ended_ = true;
                end.exitCode = event.u.ExitProcess.dwExitCode;
                end.cpuKnown = CpuMilliseconds(process_.hProcess, &end.cpuMilliseconds);
            }
            return DBG_CONTINUE;
        default:
            return DBG_CONTINUE;
        }
    }

    bool Ended() const { return ended_; }

private:
    // Read while the program waits on its exit event: Wine has the times of
    // another process only while its threads are still there.
    static bool CpuMilliseconds(HANDLE process, ULONGLONG *milliseconds)
    {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
            return false;
        *milliseconds = (Ticks(kernel) + Ticks(user)) / 10000;
        return true;
    }

    static ULONGLONG Ticks(const FILETIME &time)
    {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    }

    static void CloseFileHandle(HANDLE file)
    {
        if (file != NULL && file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }

    void PassText(const OUTPUT_DEBUG_STRING_INFO &info)
    {
        HANDLE debuggee = process_.hProcess;
        ReadMemory read = [debuggee](std::uintptr_t address, void *buffer, std::size_t size) {
            SIZE_T copied = 0;
            return ReadProcessMemory(debuggee, reinterpret_cast<LPCVOID>(address), buffer, size, &copied) &&
                   copied == size;
        };
        bool unicode = info.fUnicode != 0;
        onText_(ReadDebugText(reinterpret_cast<std::uintptr_t>(info.lpDebugStringData), unicode, read),
                unicode);
    }

    // The loader's first breakpoint (and a 32-bit program's own under WOW64)
    // is the debugger's; every other exception is the program's to handle.
    // One it leaves unhandled comes back as a last chance and ends it, as it
    // would without a debugger.
    DWORD Exception(const EXCEPTION_DEBUG_INFO &info, DebuggeeEnd &end)
    {
        DWORD code = info.ExceptionRecord.ExceptionCode;
        if (info.dwFirstChance && code == EXCEPTION_BREAKPOINT && !seenBreakpoint_) {
            seenBreakpoint_ = true;
            return DBG_CONTINUE;
        }
        if (info.dwFirstChance && code == kWow64Breakpoint && !seenWow64Breakpoint_) {
            seenWow64Breakpoint_ = true;
            return DBG_CONTINUE;
        }
        if (!info.dwFirstChance) {
            end.fatalException = code;
            end.fatalAddress = reinterpret_cast<ULONG_PTR>(info.ExceptionRecord.ExceptionAddress);
        }
        return DBG_EXCEPTION_NOT_HANDLED;
    }

    const PROCESS_INFORMATION &process_;
    const DebugTextSink &onText_;
    bool seenBreakpoint_ = false;
    bool seenWow64Breakpoint_ = false;
    bool ended_ = false;
};

// The program gets atcmd-trace's own standard handles, as under cmd: its
// standard output (atcmd's answer) goes, unchanged, where atcmd-trace's
// goes, written by the program itself, so nothing here can hold it. Named
// explicitly: a GUI program started without them may get none. A handle
// that cannot be made inheritable reaches the program as an unusable
// value, and its writes fail there.
void PassStandardHandles(STARTUPINFOW &startup)
{
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE *fields[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    for (int i = 0; i < 3; ++i) {
        HANDLE handle = GetStdHandle(kinds[i]);
        if (handle != NULL && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        *fields[i] = handle;
    }
    startup.dwFlags |= STARTF_USESTDHANDLES;
}

}  // namespace

DebuggeeEnd RunDebuggee(std::wstring commandLine, const DebugTextSink &onText)
{
    DebuggeeEnd end;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PassStandardHandles(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, TRUE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL,
                        &startup, &process)) {
        end.startError = GetLastError();
        return end;
    }
    HandleGuard processGuard(process.hProcess);
    HandleGuard threadGuard(process.hThread);

    DebugSession session(process, onText);
    while (!session.Ended()) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, INFINITE)) {
            end.loopError = GetLastError();
            return end;
        }
        DWORD status = session.Handle(event, end);
        if (!ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status)) {
            end.loopError = GetLastError();
            return end;
        }
    }
    // The exit code from the process itself once it is gone; the event's
    // copy stands if that cannot be read.
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &exitCode))
        end.exitCode = exitCode;
    return end;
}
