// The fake's Win32 calls: each one entry below. A steerable call asks
// Steered() first and otherwise does what a working port, event or library
// would do; time passes only in waits and Sleep.
#include "fake_win32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace fake {
namespace {

// The one read the program may have pending.
struct PendingRead {
    LPOVERLAPPED ov = nullptr;
    HANDLE port = nullptr;
    char *buffer = nullptr;
    DWORD count = 0;
    DWORD startTick = 0;
    Delivery delivery;
    bool cancelled = false;
};

struct State {
    Script script;
    Record record;
    std::map<Call, int> calls;
    std::set<HANDLE> handles;
    std::set<HANDLE> libraries;
    std::set<HANDLE> mbimHandles;
    uintptr_t lastObject = 0x1000;
    DWORD tick = 0;
    DWORD lastError = 0;
    size_t nextDelivery = 0;
    PendingRead read;
    LPOVERLAPPED writeOv = nullptr;
    DWORD written = 0;
};

State &Now()
{
    static State state;
    return state;
}

// The step scripted for this occurrence of `call`, its error applied; null if none.
const Step *NextStep(Call call)
{
    State &s = Now();
    int occurrence = ++s.calls[call];
    for (const Step &step : s.script.steps) {
        if (step.call == call && (step.occurrence == occurrence || step.occurrence == kEveryCall)) {
            s.lastError = step.error;
            return &step;
        }
    }
    return nullptr;
}

// The scripted result of this occurrence, or `normal` (with `normalError`, if any).
long long Steered(Call call, long long normal, DWORD normalError = 0)
{
    if (const Step *step = NextStep(call))
        return step->result;
    if (normalError != 0)
        Now().lastError = normalError;
    return normal;
}

HANDLE Obtain(std::set<HANDLE> &held)
{
    HANDLE object = reinterpret_cast<HANDLE>(Now().lastObject += 0x10);
    held.insert(object);
    return object;
}

BOOL Release(std::set<HANDLE> &held, HANDLE object)
{
    if (held.erase(object) == 0) {
        ++Now().record.misuses;
        return FALSE;
    }
    return TRUE;
}

Delivery NextDelivery()
{
    State &s = Now();
    if (s.nextDelivery < s.script.reads.size())
        return s.script.reads[s.nextDelivery++];
    return Delivery("", TRUE, 0, kQuietReadMs);
}

// Ticks until the pending read completes, from now.
DWORD TicksToCompletion()
{
    const PendingRead &read = Now().read;
    DWORD elapsed = Now().tick - read.startTick;
    return read.delivery.afterMs > elapsed ? read.delivery.afterMs - elapsed : 0;
}

BOOL FinishRead(LPDWORD done)
{
    State &s = Now();
    PendingRead read = s.read;
    s.read = PendingRead();
    if (!read.cancelled)
        s.tick += TicksToCompletion();
    const std::string &bytes = read.delivery.bytes;
    DWORD count = std::min(static_cast<DWORD>(bytes.size()), read.count);
    memcpy(read.buffer, bytes.data(), count);
    *done = count;
    BOOL succeeded = read.cancelled ? FALSE : read.delivery.succeeded;
    DWORD error = read.cancelled ? ERROR_OPERATION_ABORTED : read.delivery.error;
    return static_cast<BOOL>(Steered(Call::GetOverlappedResult, succeeded, succeeded ? 0 : error));
}

// The library's entry points: each call is recorded.
int WINAPIV DllOpen(void **handle)
{
    Now().record.entryCalls.push_back("MBIM_DllOpen");
    int result = static_cast<int>(Steered(Call::MBIM_DllOpen, 0));
    if (result >= 0)
        *handle = Obtain(Now().mbimHandles);
    return result;
}

int WINAPIV DllClose(void *handle)
{
    Now().record.entryCalls.push_back("MBIM_DllClose");
    Release(Now().mbimHandles, handle);
    return 0;
}

int WINAPIV PortSend(void *handle, const char *cmd, unsigned len)
{
    Now().record.entryCalls.push_back("MBIMPort_Send " + std::string(cmd, len));
    if (Now().mbimHandles.count(handle) == 0)
        ++Now().record.misuses;
    return static_cast<int>(Steered(Call::MBIMPort_Send, 0));
}

int WINAPIV PortGetResponse(void *handle, char *buf, unsigned *len)
{
    (void)buf;
    (void)len;
    Now().record.entryCalls.push_back("MBIMPort_GetResponse");
    if (Now().mbimHandles.count(handle) == 0)
        ++Now().record.misuses;
    return static_cast<int>(Steered(Call::MBIMPort_GetResponse, 0));
}

struct EntryPoint {
    const char *name;
    FARPROC address;
};

const EntryPoint kEntryPoints[] = {
    {"MBIM_DllOpen", reinterpret_cast<FARPROC>(DllOpen)},
    {"MBIM_DllClose", reinterpret_cast<FARPROC>(DllClose)},
    {"MBIMPort_Send", reinterpret_cast<FARPROC>(PortSend)},
    {"MBIMPort_GetResponse", reinterpret_cast<FARPROC>(PortGetResponse)},
};

}  // namespace

const HANDLE kStandardOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x57D0));

void Begin(const Script &script)
{
    State &s = Now();
    s = State();
    s.script = script;
    s.tick = script.startTick;
}

std::string Traced()
{
    std::string joined;
    for (const std::string &trace : Now().record.traces)
        joined += trace;
    return joined;
}

const Record &Recorded()
{
    State &s = Now();
    s.record.handlesHeld = static_cast<int>(s.handles.size());
    s.record.librariesHeld = static_cast<int>(s.libraries.size());
    s.record.mbimHandlesHeld = static_cast<int>(s.mbimHandles.size());
    return s.record;
}

}  // namespace fake

using fake::Call;
using fake::Now;
using fake::Steered;

HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    return Steered(Call::CreateFileA, 1) ? fake::Obtain(Now().handles) : INVALID_HANDLE_VALUE;
}

BOOL CloseHandle(HANDLE h)
{
    // A port closed under a pending read: the read was never retired.
    if (Now().read.ov != nullptr && Now().read.port == h)
        ++Now().record.misuses;
    return fake::Release(Now().handles, h);
}

BOOL GetCommState(HANDLE, LPDCB)
{
    return static_cast<BOOL>(Steered(Call::GetCommState, TRUE));
}

BOOL SetCommState(HANDLE, LPDCB)
{
    return static_cast<BOOL>(Steered(Call::SetCommState, TRUE));
}

BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS)
{
    return static_cast<BOOL>(Steered(Call::SetCommTimeouts, TRUE));
}

BOOL ClearCommBreak(HANDLE)
{
    return TRUE;
}

BOOL ClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT stat)
{
    *errors = 0;
    memset(stat, 0, sizeof *stat);
    return TRUE;
}

BOOL PurgeComm(HANDLE, DWORD)
{
    return TRUE;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD, LPOVERLAPPED ov)
{
    BOOL result = static_cast<BOOL>(Steered(Call::ReadFile, FALSE, ERROR_IO_PENDING));
    if (!result && GetLastError() != ERROR_IO_PENDING)
        return FALSE;
    // Pending, or complete at once (TRUE): GetOverlappedResult reports it.
    fake::PendingRead &read = Now().read;
    if (read.ov != nullptr)
        ++Now().record.misuses;  // a second read over a pending one
    read = fake::PendingRead();
    read.ov = ov;
    read.port = h;
    read.buffer = static_cast<char *>(buffer);
    read.count = count;
    read.startTick = Now().tick;
    read.delivery = fake::NextDelivery();
    if (result)
        read.delivery.afterMs = 0;
    return result;
}

BOOL WriteFile(HANDLE, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    BOOL result = static_cast<BOOL>(Steered(Call::WriteFile, FALSE, ERROR_IO_PENDING));
    if (!result && GetLastError() != ERROR_IO_PENDING)
        return FALSE;
    long long written = Now().script.writtenBytes;
    Now().written = written < 0 ? count : static_cast<DWORD>(written);
    Now().record.sent.append(static_cast<const char *>(buffer), Now().written);
    if (result)
        *done = Now().written;
    else
        Now().writeOv = ov;
    return result;
}

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD done, BOOL)
{
    if (ov != nullptr && ov == Now().read.ov)
        return fake::FinishRead(done);
    if (ov == nullptr || ov != Now().writeOv) {
        ++Now().record.misuses;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Now().writeOv = nullptr;
    *done = Now().written;
    return static_cast<BOOL>(Steered(Call::GetOverlappedResult, TRUE));
}

BOOL CancelIo(HANDLE h)
{
    if (Now().read.ov != nullptr && Now().read.port == h)
        Now().read.cancelled = true;
    return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR)
{
    return Steered(Call::CreateEventA, 1) ? fake::Obtain(Now().handles) : NULL;
}

BOOL ResetEvent(HANDLE)
{
    return TRUE;
}

BOOL SetEvent(HANDLE)
{
    return TRUE;
}

HANDLE GetStdHandle(DWORD)
{
    return Steered(Call::GetStdHandle, 0) ? fake::kStandardOutput : NULL;
}

// A pipe: the answer goes to the writer, whose thread never starts here.
DWORD GetFileType(HANDLE)
{
    return FILE_TYPE_PIPE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    const DWORD kNotSupported = 50;  // ERROR_NOT_SUPPORTED
    SetLastError(kNotSupported);
    return NULL;
}

// One thread: nothing to lock.
void InitializeCriticalSection(LPCRITICAL_SECTION) {}
void EnterCriticalSection(LPCRITICAL_SECTION) {}
void LeaveCriticalSection(LPCRITICAL_SECTION) {}
void DeleteCriticalSection(LPCRITICAL_SECTION) {}

// A wait on the pending read's event lasts until the read completes or the
// wait's time passes; any other event is signalled.
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    if (const fake::Step *step = fake::NextStep(Call::WaitForSingleObject))
        return static_cast<DWORD>(step->result);
    fake::PendingRead &read = Now().read;
    if (read.ov == nullptr || read.ov->hEvent != h || read.cancelled)
        return WAIT_OBJECT_0;
    DWORD left = fake::TicksToCompletion();
    if (milliseconds != INFINITE && left > milliseconds) {
        Now().tick += milliseconds;
        return WAIT_TIMEOUT;
    }
    Now().tick += left;
    return WAIT_OBJECT_0;
}

DWORD GetTickCount(void)
{
    return Now().tick;
}

void Sleep(DWORD milliseconds)
{
    Now().tick += milliseconds;
}

DWORD GetLastError(void)
{
    return Now().lastError;
}

void SetLastError(DWORD error)
{
    Now().lastError = error;
}

void OutputDebugStringA(LPCSTR text)
{
    Now().record.traces.push_back(text);
}

// The traces go to standard error, where a death test reads them; exit()
// rather than _exit() so that coverage counters are written.
void ExitProcess(UINT exitCode)
{
    for (const std::string &trace : Now().record.traces)
        fputs(trace.c_str(), stderr);
    fflush(stderr);
    exit(static_cast<int>(exitCode));
}

// The script's holders, as many as fit.
DWORD OtherPortHolders(LPCSTR, PortHolder *holders, DWORD capacity)
{
    fake::State &s = Now();
    ++s.record.holderLooks;
    std::copy_n(s.script.holders.begin(), std::min<size_t>(capacity, s.script.holders.size()), holders);
    return static_cast<DWORD>(s.script.holders.size());
}

std::vector<SystemSerialPort> ListSystemSerialPorts()
{
    return Now().script.ports;
}

// Like Windows: a path that does not fit is cut and terminated, and the
// result is `size`.

DWORD GetModuleFileNameA(HMODULE, LPSTR path, DWORD size)
{
    if (const fake::Step *step = fake::NextStep(Call::GetModuleFileNameA))
        return static_cast<DWORD>(step->result);
    const std::string &executable = Now().script.executablePath;
    DWORD length = std::min(static_cast<DWORD>(executable.size()), size - 1);
    memcpy(path, executable.data(), length);
    path[length] = '\0';
    if (executable.size() < size)
        return length;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

BOOL PathRemoveFileSpecA(LPSTR path)
{
    char *last = strrchr(path, '/');
    if (last == nullptr)
        return FALSE;
    *last = '\0';
    return TRUE;
}

// Like Windows: a result that does not fit empties the path.
BOOL PathAppendA(LPSTR path, LPCSTR more)
{
    if (strlen(path) + 1 + strlen(more) >= MAX_PATH) {
        path[0] = '\0';
        return FALSE;
    }
    strcat(path, "/");
    strcat(path, more);
    return TRUE;
}

HMODULE LoadLibraryA(LPCSTR)
{
    return Steered(Call::LoadLibraryA, 1) ? fake::Obtain(Now().libraries) : NULL;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (Now().libraries.count(module) == 0)
        ++Now().record.misuses;
    const std::vector<std::string> &missing = Now().script.missingEntryPoints;
    if (std::find(missing.begin(), missing.end(), name) == missing.end()) {
        for (const fake::EntryPoint &entry : fake::kEntryPoints)
            if (strcmp(entry.name, name) == 0)
                return entry.address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
}

BOOL FreeLibrary(HMODULE module)
{
    return fake::Release(Now().libraries, module);
}
