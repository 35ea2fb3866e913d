#include "kernel_objects.h"

#include <unordered_map>

#include "comm_port.h"
#include "overlapped_io.h"

namespace {

std::unordered_map<HANDLE, std::unique_ptr<KernelObject>> &Objects()
{
    static std::unordered_map<HANDLE, std::unique_ptr<KernelObject>> objects;
    return objects;
}

}  // namespace

HANDLE RegisterObject(std::unique_ptr<KernelObject> object)
{
    HANDLE handle = object.get();
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
