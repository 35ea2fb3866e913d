// Events: set, reset and waited for from any thread; a wait on the event
// of a pending comm request is where that request makes progress.
#include "event.h"

#include <cerrno>
#include <chrono>

#include "debug_output.h"
#include "failure.h"
#include "monotonic_clock.h"
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

void Event::AttachDriver(std::weak_ptr<RequestDriver> driver)
{
    std::lock_guard<std::mutex> hold(mutex_);
    driver_ = std::move(driver);
}

void Event::DetachDriver()
{
    std::lock_guard<std::mutex> hold(mutex_);
    driver_.reset();
}

// A reference: the port stays alive while this wait drives it, even when
// another thread closes its handle meanwhile.
std::shared_ptr<RequestDriver> Event::Driver()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return driver_.lock();
}

bool Event::WaitToTake(uint64_t limit)
{
    std::unique_lock<std::mutex> hold(mutex_);
    auto set = [this] { return signalled_; };
    if (limit == kForever) {
        set_.wait(hold, set);
    } else {
        uint64_t now = MonotonicMs();
        set_.wait_for(hold, std::chrono::milliseconds(limit > now ? limit - now : 0), set);
    }
    return TakeLocked();
}

// An event no I/O will signal waits for another thread to set it. With no
// other thread, an infinite wait would never return, so it fails with
// EDEADLK instead.
DWORD Event::Wait(DWORD milliseconds)
{
    uint64_t limit = LimitAfter(milliseconds);
    if (Take())
        return WAIT_OBJECT_0;
    if (std::shared_ptr<RequestDriver> driver = Driver()) {
        DriveOutcome drive = driver->DriveRequestOf(*this, limit);
        if (Take())
            return WAIT_OBJECT_0;
        if (drive == DriveOutcome::Pending)
            return WAIT_TIMEOUT;
        // Another thread's wait completed the request and took the signal.
    }
    if (milliseconds == INFINITE && !OtherThreadsRunning())
        return Fail(EDEADLK, WAIT_FAILED);
    if (milliseconds != 0)
        WriteGatheredTextsBeforeWait();
    return WaitToTake(limit) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    (void)sa;
    // A named event is shared between processes: nothing here can do that.
    if (name != nullptr)
        return Fail<HANDLE>(ERROR_INVALID_PARAMETER);
    return RegisterObject(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE h)
{
    return ActOn<Event>(h, [](Event &event) { event.Set(); });
}

BOOL ResetEvent(HANDLE h)
{
    return ActOn<Event>(h, [](Event &event) { event.Reset(); });
}
