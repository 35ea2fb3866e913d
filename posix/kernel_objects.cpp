#include "kernel_objects.h"

#include <cstdint>
#include <unordered_map>

#include "comm_port.h"
#include "overlapped_io.h"

namespace {

std::unordered_map<HANDLE, std::unique_ptr<KernelObject>> &Objects()
{
    static std::unordered_map<HANDLE, std::unique_ptr<KernelObject>> objects;
    return objects;
}

// A handle is a number of its own, never the object's address: a freed
// object's address comes back for a later one, and a stale handle would then
// be taken for a live one. Numbers are never reused, and step by 4 from 4,
// as Windows hands them out; none is NULL or INVALID_HANDLE_VALUE.
HANDLE NextHandle()
{
    static uintptr_t last = 0;
    last += 4;
    return reinterpret_cast<HANDLE>(last);
}

}  // namespace

HANDLE RegisterObject(std::unique_ptr<KernelObject> object)
{
    HANDLE handle = NextHandle();
    Objects()[handle] = std::move(object);
    return handle;
}

KernelObject *FindObject(HANDLE handle)
{
    auto found = Objects().find(handle);
    return found == Objects().end() ? nullptr : found->second.get();
}

std::vector<KernelObject *> LiveObjects()
{
    std::vector<KernelObject *> live;
    for (auto &entry : Objects())
        live.push_back(entry.second.get());
    return live;
}

BOOL CloseHandle(HANDLE h)
{
    KernelObject *object = FindOrFail<KernelObject>(h);
    if (object == nullptr)
        return FALSE;
    // A port's pending I/O ends with the port, as on Windows: aborted.
    if (CommPort *port = dynamic_cast<CommPort *>(object))
        CancelPortIo(*port);
    Objects().erase(h);
    return TRUE;
}
