#include "kernel_objects.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "failure.h"

namespace {

struct ObjectTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
};

// Never destroyed: a thread may still wait on one of its events while the
// process ends, as Windows ends such a thread without any clean-up.
ObjectTable &Table()
{
    static ObjectTable *table = new ObjectTable;
    return *table;
}

// A handle is a number of its own, never the object's address: a freed
// object's address comes back for a later one, and a stale handle would then
// be taken for a live one. Numbers are never reused, and step by 4 from 4,
// as Windows hands them out; none is NULL or INVALID_HANDLE_VALUE. Taken
// under the table's lock.
HANDLE NextHandle()
{
    static uintptr_t last = 0;
    last += 4;
    return reinterpret_cast<HANDLE>(last);
}

// Takes `handle` out of the table: its object, or null when there was none.
std::shared_ptr<KernelObject> Unregister(HANDLE handle)
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    auto found = Table().objects.find(handle);
    if (found == Table().objects.end())
        return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    Table().objects.erase(found);
    return object;
}

}  // namespace

DWORD KernelObject::Wait(DWORD milliseconds)
{
    (void)milliseconds;
    return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
}

BOOL KernelObject::Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    (void)buffer;
    (void)count;
    (void)done;
    (void)ov;
    return Fail(ERROR_INVALID_HANDLE);
}

HANDLE RegisterObject(std::shared_ptr<KernelObject> object)
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    HANDLE handle = NextHandle();
    Table().objects[handle] = std::move(object);
    return handle;
}

std::shared_ptr<KernelObject> ReferenceObject(HANDLE handle)
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    auto found = Table().objects.find(handle);
    if (found != Table().objects.end())
        return found->second;
    return Fail(ERROR_INVALID_HANDLE, nullptr);
}

// The handle goes at once; the object when the last call using it returns
// (a port is then put back and its fd closed).
BOOL CloseHandle(HANDLE h)
{
    std::shared_ptr<KernelObject> object = Unregister(h);
    if (object == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    object->Close();
    return TRUE;
}

// Each object waits in its own way (an event drives its request's I/O).
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    std::shared_ptr<KernelObject> object = ReferenceObject(h);
    return object == nullptr ? WAIT_FAILED : object->Wait(milliseconds);
}

DWORD GetFileType(HANDLE h)
{
    std::shared_ptr<KernelObject> object = ReferenceObject(h);
    return object == nullptr ? FILE_TYPE_UNKNOWN : object->FileType();
}
