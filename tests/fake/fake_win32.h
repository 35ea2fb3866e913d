// A scripted fake of the Win32 subset atcmd uses, for the transactions'
// failure paths: a test names what a call returns and which error it
// leaves, by call and occurrence, what each read delivers, and which
// library entry points exist. The fake records the traces and counts what
// was obtained and released. It defines every name win32.h declares that
// the program calls, and nothing else: a call it lacks fails the link.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "system_ports.h"
#include "win32.h"

namespace fake {

// The calls a script can steer: one entry each, named as the call.
enum class Call {
    CreateFileA,
    CreateEventA,
    SetCommTimeouts,
    GetCommState,
    SetCommState,
    ReadFile,
    WriteFile,
    GetOverlappedResult,
    WaitForSingleObject,
    GetStdHandle,
    GetModuleFileNameA,
    LoadLibraryA,
    MBIM_DllOpen,
    MBIMPort_Send,
    MBIMPort_GetResponse,
};

const int kEveryCall = 0;

// The `occurrence`-th call (from 1, or kEveryCall) of `call` returns
// `result` and leaves `error` as the last error. For a call that returns a
// handle, 0 stands for its failure value (NULL, or INVALID_HANDLE_VALUE for
// CreateFileA).
struct Step {
    Call call;
    int occurrence;
    long long result;
    DWORD error;
};

// What one overlapped read delivers: its bytes, how GetOverlappedResult
// reports it, and how many ticks after the read's start it completes. A
// wait shorter than that times out; the bytes count as arrived by then.
struct Delivery {
    Delivery(std::string bytes = "", BOOL succeeded = TRUE, DWORD error = 0, DWORD afterMs = 0)
        : bytes(std::move(bytes)), succeeded(succeeded), error(error), afterMs(afterMs)
    {
    }
    std::string bytes;
    BOOL succeeded;
    DWORD error;
    DWORD afterMs;
};

// Standard output, when a step gives the program one (any non-zero result
// of GetStdHandle): the fake runs no threads, so the answer writer's
// CreateThread always fails there. Without a step the program has none.
extern const HANDLE kStandardOutput;

// Once the script's deliveries are used up, each read brings nothing after
// the port's read time-out as the program sets it.
const DWORD kQuietReadMs = 500;

struct Script {
    std::vector<Step> steps;
    std::vector<Delivery> reads;
    long long writtenBytes = -1;  // what a write reports as written; -1: all of it
    DWORD startTick = 1000;
    std::string executablePath = "/opt/atcmd/atcmd";
    std::vector<std::string> missingEntryPoints;
    std::vector<PortHolder> holders;  // the other processes that have the port open
    std::vector<SystemSerialPort> ports;  // what ListSystemSerialPorts gives
};

// What a run left behind and what it did.
struct Record {
    std::vector<std::string> traces;       // OutputDebugStringA, in order
    std::vector<std::string> entryCalls;   // the library's entry points, in order
    int handlesHeld = 0;                   // ports and events not closed
    int librariesHeld = 0;                 // loaded and not freed
    int mbimHandlesHeld = 0;               // opened and not closed
    int misuses = 0;                       // a release of what was not held
    std::string sent;                      // what the writes carried
    int holderLooks = 0;                   // OtherPortHolders calls
};

// Starts a run: the script applies from here, the record is emptied.
void Begin(const Script &script);
const Record &Recorded();
// The run's traces so far, joined as standard error would show them.
std::string Traced();

}  // namespace fake
