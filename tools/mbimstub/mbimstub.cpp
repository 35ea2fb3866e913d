// A stand-in MbimPortAPI.dll for tests, keeping the contract of
// mbim_port_api.h. Its behaviour comes from the environment, read at each
// call, so the program under test reads nothing; it logs each call to a
// file. README.md beside this file lists the variables and the log lines.
//
// Built once per entry point with MBIMSTUB_WITHOUT_<ENTRY> to give a
// library that lacks that entry point.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mbim_port_api.h"
#include "stub_note.h"

namespace {

// One open handle; heap-allocated, so a handle never closed shows as a leak.
struct Session {
    int polls;
};

int EnvInt(const char *name, int fallback)
{
    const char *value = getenv(name);
    return value != NULL && *value != '\0' ? static_cast<int>(strtol(value, NULL, 10)) : fallback;
}

// Poll helpers; a variant without MBIMPort_GetResponse leaves them unused.
[[maybe_unused]] const char *EnvText(const char *name, const char *fallback)
{
    const char *value = getenv(name);
    return value != NULL ? value : fallback;
}

FILE *OpenLog()
{
    const char *path = getenv("MBIMSTUB_LOG");
    return path != NULL && *path != '\0' ? fopen(path, "a") : NULL;
}

void LogLine(const char *format, ...)
{
    FILE *log = OpenLog();
    if (log == NULL)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fputc('\n', log);
    fclose(log);
}

[[maybe_unused]] bool AllZero(const char *buf, unsigned size)
{
    for (unsigned i = 0; i < size; ++i) {
        if (buf[i] != 0)
            return false;
    }
    return true;
}

__attribute__((constructor)) void OnLoad()
{
    LogLine("load");
    StubNote("mbimstub: load\n");
}

__attribute__((destructor)) void OnUnload()
{
    LogLine("unload");
    StubNote("mbimstub: unload\n");
}

}  // namespace

#if !defined(MBIMSTUB_WITHOUT_OPEN)
int MBIM_CALL MBIM_DllOpen(void **handle)
{
    int status = EnvInt("MBIMSTUB_OPEN_STATUS", 0);
    if (status < 0) {
        LogLine("open status=%d handle=none", status);
        return status;
    }
    Session *session = static_cast<Session *>(calloc(1, sizeof(Session)));
    *handle = session;
    LogLine("open status=%d handle=%p", status, static_cast<void *>(session));
    return status;
}
#endif

#if !defined(MBIMSTUB_WITHOUT_CLOSE)
int MBIM_CALL MBIM_DllClose(void *handle)
{
    LogLine("close handle=%p", handle);
    free(handle);
    return 0;
}
#endif

#if !defined(MBIMSTUB_WITHOUT_SEND)
int MBIM_CALL MBIMPort_Send(void *handle, const char *cmd, unsigned len)
{
    FILE *log = OpenLog();
    if (log != NULL) {
        fprintf(log, "send handle=%p len=%u bytes=", handle, len);
        for (unsigned i = 0; i < len; ++i)
            fprintf(log, "%02x", static_cast<unsigned char>(cmd[i]));
        fputc('\n', log);
        fclose(log);
    }
    return EnvInt("MBIMSTUB_SEND_STATUS", 0);
}
#endif

#if !defined(MBIMSTUB_WITHOUT_GET_RESPONSE)
int MBIM_CALL MBIMPort_GetResponse(void *handle, char *buf, unsigned *len)
{
    Session *session = static_cast<Session *>(handle);
    unsigned lenIn = *len;
    bool zeroed = AllZero(buf, kMbimResponseBufferSize);
    int failedPolls = EnvInt("MBIMSTUB_FAILED_POLLS", 0);
    int status = 0;
    if (failedPolls < 0 || session->polls < failedPolls) {
        status = EnvInt("MBIMSTUB_POLL_STATUS", 1);
        // Leave litter, so a caller that reuses the buffer unreset shows.
        memset(buf, 'x', kMbimResponseBufferSize);
        *len = kMbimResponseBufferSize;
    } else {
        const char *answer = EnvText("MBIMSTUB_ANSWER", "OK");
        size_t size = strlen(answer);
        if (size > kMbimResponseBufferSize - 1)
            size = kMbimResponseBufferSize - 1;
        memcpy(buf, answer, size);
        buf[size] = '\0';
        *len = static_cast<unsigned>(EnvInt("MBIMSTUB_ANSWER_LENGTH", static_cast<int>(size)));
    }
    ++session->polls;
    LogLine("poll handle=%p len=%u zeroed=%d status=%d", handle, lenIn, zeroed ? 1 : 0, status);
    return status;
}
#endif
