// Events and the wait on them; a wait on the event of a pending comm
// request is where that request makes progress.
#include <cerrno>

#include <chrono>

#include "kernel_objects.h"
#include "overlapped_io.h"
#include "threads.h"

void Event::Set()
{
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = true;
    set_.notify_all();
}

void Event::Reset()
{
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = false;
}

bool Event::Take()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return TakeLocked();
}

bool Event::TakeLocked()
{
    if (!signalled_)
        return false;
    if (!manualReset_)
        signalled_ = false;
    return true;
}

bool Event::WaitToTake(DWORD milliseconds)
{
    std::unique_lock<std::mutex> hold(mutex_);
    auto set = [this] { return signalled_; };
    if (milliseconds == INFINITE)
        set_.wait(hold, set);
    else
        set_.wait_for(hold, std::chrono::milliseconds(milliseconds), set);
    return TakeLocked();
}

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

// An event no I/O will signal waits for another thread to set it. With no
// other thread, an infinite wait would never return, so it fails with
// EDEADLK instead.
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    Event *event = FindOrFail<Event>(h);
    if (event == nullptr)
        return WAIT_FAILED;
    if (event->Take())
        return WAIT_OBJECT_0;
    if (DriveIoOf(h, milliseconds) != IoDrive::NoIo)
        return event->Take() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    if (milliseconds == INFINITE && !OtherThreadsRunning()) {
        SetLastError(EDEADLK);
        return WAIT_FAILED;
    }
    return event->WaitToTake(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
