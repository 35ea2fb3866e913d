// The objects behind HANDLEs: events, comm ports, threads and standard
// output. A HANDLE is a number given at creation and never given again; only
// the numbers in the table of live objects are valid, so a closed or made-up
// handle is refused instead of followed. The table is shared by every thread.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "win32_posix.h"

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// Set and waited for from any thread.
class Event : public KernelObject {
public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void Set();
    void Reset();
    // A successful wait: true when signalled; an auto-reset event is reset by it.
    bool Take();
    // Take, waiting up to `milliseconds` (INFINITE: no limit) for another
    // thread to set the event.
    bool WaitToTake(DWORD milliseconds);

private:
    bool TakeLocked();

    std::mutex mutex_;
    std::condition_variable set_;
    bool manualReset_;
    bool signalled_;
};

HANDLE RegisterObject(std::unique_ptr<KernelObject> object);
KernelObject *FindObject(HANDLE handle);
std::vector<KernelObject *> LiveObjects();

// The live object of type T behind `handle`, or null.
template <class T> T *Find(HANDLE handle)
{
    return dynamic_cast<T *>(FindObject(handle));
}

// As Find, and sets ERROR_INVALID_HANDLE when there is none.
template <class T> T *FindOrFail(HANDLE handle)
{
    T *object = Find<T>(handle);
    if (object == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}
