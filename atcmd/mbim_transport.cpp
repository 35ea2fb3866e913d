#include "mbim_transport.h"

#include <cstring>

#include "answer_output.h"
#include "deadline.h"
#include "mbim_library.h"
#include "trace.h"

namespace {

const DWORD kPollPauseMs = 500;
const size_t kResponseBufferSize = 1024;

// The four entry points, looked up together.
struct MbimEntryPoints {
    MbimDllOpenFn open;
    MbimDllCloseFn close;
    MbimPortSendFn send;
    MbimPortGetResponseFn getResponse;
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

MbimEntryPoints FindMbimEntryPoints(const LibraryGuard &library)
{
    MbimEntryPoints entries;
    entries.open = library.EntryPoint<MbimDllOpenFn>("MBIM_DllOpen");
    entries.close = library.EntryPoint<MbimDllCloseFn>("MBIM_DllClose");
    entries.send = library.EntryPoint<MbimPortSendFn>("MBIMPort_Send");
    entries.getResponse = library.EntryPoint<MbimPortGetResponseFn>("MBIMPort_GetResponse");
    return entries;
}

// The name of the first missing entry point, in the order open, close,
// send, get-response; NULL when all four are there.
const char *FirstMissingEntryPoint(const MbimEntryPoints &entries)
{
    if (entries.open == NULL)
        return "MBIM_DllOpen";
    if (entries.close == NULL)
        return "MBIM_DllClose";
    if (entries.send == NULL)
        return "MBIMPort_Send";
    if (entries.getResponse == NULL)
        return "MBIMPort_GetResponse";
    return NULL;
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
    if (length >= 1 && length <= kResponseBufferSize)
        return length;
    return strnlen(response, kResponseBufferSize);
}

// Polls until an answer or the deadline; the deadline is tested only
// before a poll, so a failed poll is always followed by the full pause.
// The answer goes to standard output.
AtResult PollForAnswer(MbimPortGetResponseFn getResponse, void *handle, const Deadline &deadline)
{
    char response[kResponseBufferSize];
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
        Sleep(kPollPauseMs);
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

    MbimEntryPoints entries = FindMbimEntryPoints(library);
    const char *missing = FirstMissingEntryPoint(entries);
    if (missing != NULL) {
        DebugTrace("can not find %s function\n", missing);
        return result;
    }

    void *handle = NULL;
    int hres = entries.open(&handle);
    if (hres < 0) {
        DebugTrace("MBIM_DllOpen failed, hres(%d)\n", hres);
        return result;
    }
    MbimHandleGuard mbim(entries.close, handle);

    hres = entries.send(mbim.get(), cmd, LengthToSend(cmd, len));
    if (hres != 0) {
        DebugTrace("MBIMPort_Send failed, hres(%d)\n", hres);
        return result;
    }
    Deadline deadline(GetTickCount(), timeout);
    result = PollForAnswer(entries.getResponse, mbim.get(), deadline);
    FinishAnswer(deadline);
    return result;
}
