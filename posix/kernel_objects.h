// The objects behind HANDLEs: events and comm ports. A HANDLE is a number
// given at creation and never given again; only the numbers in the table of
// live objects are valid, so a closed or made-up handle is refused instead of
// followed.
#pragma once

#include <memory>
#include <vector>

#include "win32_posix.h"

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

class Event : public KernelObject {
public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void Set() { signalled_ = true; }
    void Reset() { signalled_ = false; }
    // A successful wait: true when signalled; an auto-reset event is reset by it.
    bool Take()
    {
        if (!signalled_)
            return false;
        if (!manualReset_)
            signalled_ = false;
        return true;
    }

private:
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
