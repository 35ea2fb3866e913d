// Events and the wait on them; a wait on the event of a pending comm
// request is where that request makes progress.
#include <cerrno>

#include "kernel_objects.h"
#include "overlapped_io.h"

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    (void)sa;
    // A named event is shared between processes: nothing here can do that.
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return RegisterObject(std::make_unique<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE h)
{
    Event *event = FindOrFail<Event>(h);
    if (event == nullptr)
        return FALSE;
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE h)
{
    Event *event = FindOrFail<Event>(h);
    if (event == nullptr)
        return FALSE;
    event->Reset();
    return TRUE;
}

// With one thread, an event no I/O will signal stays as it is: a finite
// wait on it sleeps and times out; an infinite one would never return, so
// it fails with EDEADLK instead.
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    Event *event = FindOrFail<Event>(h);
    if (event == nullptr)
        return WAIT_FAILED;
    if (event->Take())
        return WAIT_OBJECT_0;
    if (DriveIoOf(h, milliseconds) == IoDrive::NoIo) {
        if (milliseconds == INFINITE) {
            SetLastError(EDEADLK);
            return WAIT_FAILED;
        }
        Sleep(milliseconds);
    }
    return event->Take() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
