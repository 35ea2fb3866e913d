#include "mbim_transport.h"

#include <cstring>
#include <type_traits>

#include "answer_output.h"
#include "deadline.h"
#include "mbim_library.h"
#include "trace.h"

namespace {

// The four entry points, looked up together.
struct MbimEntryPoints {
    MbimDllOpenFunction *open;
    MbimDllCloseFunction *close;
    MbimPortSendFunction *send;
    MbimPortGetResponseFunction *getResponse;
};

// Fills `path` (MAX_PATH chars) with the library's full path in the
// program's own folder. False when that path does not fit: a cut path
// could name a library in another folder.
bool BuildMbimLibraryPath(char *path)
{
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    // Windows XP leaves a cut path unterminated.
    path[MAX_PATH - 1] = '\0';
    // No path at all would send the loader searching other folders.
    if (length == 0 || length >= MAX_PATH)
        return false;
    PathRemoveFileSpecA(path);
    // A failed PathAppendA empties the path; the trace names the folder.
    char folder[MAX_PATH];
    memcpy(folder, path, sizeof folder);
    if (!PathAppendA(path, kMbimLibraryName)) {
        memcpy(path, folder, sizeof folder);
        return false;
    }
    return true;
}

// Looks the four entry points up into `entries`; returns the name of the
// first missing one, in the order open, close, send, get-response, or NULL
// when all four are there.
const char *FindMbimEntryPoints(const LibraryGuard &library, MbimEntryPoints &entries)
{
    const char *missing = NULL;
    auto find = [&](auto *&entry, const char *name) {
        entry = library.EntryPoint<std::remove_reference_t<decltype(entry)>>(name);
        if (entry == NULL && missing == NULL)
            missing = name;
    };
    find(entries.open, "MBIM_DllOpen");
    find(entries.close, "MBIM_DllClose");
    find(entries.send, "MBIMPort_Send");
    find(entries.getResponse, "MBIMPort_GetResponse");
    return missing;
}

// The command without its "\r\n" ending; a command that lacks the ending
// (none was given) is sent whole.
unsigned LengthToSend(const char *cmd, size_t len)
{
    if (len >= 2 && strcmp(cmd + len - 2, "\r\n") == 0)
        return static_cast<unsigned>(len - 2);
    return static_cast<unsigned>(len);
}

// The text the library delivered: `length` bytes when it set a length
// that fits the buffer, else up to the first NUL (the buffer was zeroed
// before the call, so that is bounded).
size_t DeliveredLength(const char *response, unsigned length)
{
    if (length >= 1 && length <= kMbimResponseBufferSize)
        return length;
    return strnlen(response, kMbimResponseBufferSize);
}

// Polls until an answer or the deadline; the deadline is tested only
// before a poll, so a failed poll is always followed by the full pause.
// The answer goes to standard output.
AtResult PollForAnswer(MbimPortGetResponseFunction *getResponse, void *handle, const Deadline &deadline)
{
    char response[kMbimResponseBufferSize];
    unsigned responseLength = 0;
    while (!deadline.Reached(GetTickCount())) {
        memset(response, 0, sizeof response);
        responseLength = 0;
        int status = getResponse(handle, response, &responseLength);
        if (status == 0) {
            DebugTrace("MBIMPort_GetResponse succeeded\n");
            WriteAnswer(response, static_cast<DWORD>(DeliveredLength(response, responseLength)));
            return kAtSuccess;
        }
        DebugTrace("MBIMPort_GetResponse failed, result(%d), sleep awhile and try again ...\n", status);
        Sleep(kMbimPollPauseMs);
    }
    return kAtFailure;
}

}  // namespace

AtResult MbimAtCommand(const char *cmd, const char *resp, DWORD timeout)
{
    size_t len = strlen(cmd);
    DebugTrace("MbimAtCommand(), cmd[%d](%s), resp(%s)\n", static_cast<int>(len), cmd, resp);
    AtResult result = kAtFailure;

    char path[MAX_PATH] = "";
    bool pathFits = BuildMbimLibraryPath(path);
    LibraryGuard library(pathFits ? LoadLibraryA(path) : NULL);
    if (library.get() == NULL) {
        DebugTrace("load %s failed\n", path);
        return result;
    }

    MbimEntryPoints entries;
    const char *missing = FindMbimEntryPoints(library, entries);
    if (missing != NULL) {
        DebugTrace("can not find %s function\n", missing);
        return result;
    }

    void *handle = NULL;
    int status = entries.open(&handle);
    if (status < 0) {
        DebugTrace("MBIM_DllOpen failed, hres(%d)\n", status);
        return result;
    }
    MbimHandleGuard mbim(entries.close, handle);

    status = entries.send(mbim.get(), cmd, LengthToSend(cmd, len));
    if (status != 0) {
        DebugTrace("MBIMPort_Send failed, hres(%d)\n", status);
        return result;
    }
    Deadline deadline(GetTickCount(), timeout);
    result = PollForAnswer(entries.getResponse, mbim.get(), deadline);
    FinishAnswer(deadline);
    return result;
}
