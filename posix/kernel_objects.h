// The objects behind HANDLEs, and the table that maps handles to them.
//
// As in a kernel's object manager, each type of object carries its own
// operations (close, wait, write), so the generic calls (CloseHandle,
// WaitForSingleObject, WriteFile) never ask what an object is; the calls
// made for one type only (SetEvent, the comm calls) name the type they
// want when they look the handle up, as Windows does.
//
// A HANDLE is a number given at creation and never given again; only the
// numbers in the table are valid, so a closed or made-up handle is refused
// instead of followed. A lookup hands out an owning reference: an object
// lives while any call still uses it, so a handle closed on one thread
// never leaves another thread with a freed object. The table is shared by
// every thread.
#pragma once

#include <memory>

#include "failure.h"
#include "win32_subset.h"

enum class ObjectType { Event, CommPort, Thread, StandardOutput };

class KernelObject : public std::enable_shared_from_this<KernelObject> {
public:
    explicit KernelObject(ObjectType type) : type_(type) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject &) = delete;
    KernelObject &operator=(const KernelObject &) = delete;

    ObjectType type() const { return type_; }

    // CloseHandle: the handle is gone; what the object does about it (a
    // port aborts its pending I/O). It is freed when no call uses it.
    virtual void Close() {}
    // WaitForSingleObject. Objects that cannot be waited for refuse.
    virtual DWORD Wait(DWORD milliseconds);
    // WriteFile. Objects that cannot be written refuse.
    virtual BOOL Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
    // GetFileType. Only standard output is asked.
    virtual DWORD FileType() const { return FILE_TYPE_UNKNOWN; }

private:
    const ObjectType type_;
};

HANDLE RegisterObject(std::shared_ptr<KernelObject> object);

// The live object behind `handle`, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> ReferenceObject(HANDLE handle);

// The live object of type T behind `handle`, or null with
// ERROR_INVALID_HANDLE, also for an object of another type.
template <class T> std::shared_ptr<T> Reference(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = ReferenceObject(handle);
    if (object != nullptr && object->type() == T::kType)
        return std::static_pointer_cast<T>(object);
    return Fail(ERROR_INVALID_HANDLE, nullptr);
}

// The typed calls that only act: `act` on the object of type T behind
// `handle`; FALSE with ERROR_INVALID_HANDLE when there is none.
template <class T, class Act> BOOL ActOn(HANDLE handle, Act act)
{
    std::shared_ptr<T> object = Reference<T>(handle);
    if (object == nullptr)
        return FALSE;
    act(*object);
    return TRUE;
}
