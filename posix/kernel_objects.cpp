#include "kernel_objects.h"

#include <cstdint>
#include <unordered_map>

#include "comm_port.h"
#include "overlapped_io.h"

namespace {

struct ObjectTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::unique_ptr<KernelObject>> objects;
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

}  // namespace

HANDLE RegisterObject(std::unique_ptr<KernelObject> object)
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    HANDLE handle = NextHandle();
    Table().objects[handle] = std::move(object);
    return handle;
}

KernelObject *FindObject(HANDLE handle)
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    auto found = Table().objects.find(handle);
    return found == Table().objects.end() ? nullptr : found->second.get();
}

std::vector<KernelObject *> LiveObjects()
{
    std::lock_guard<std::mutex> hold(Table().mutex);
    std::vector<KernelObject *> live;
    for (auto &entry : Table().objects)
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
    std::unique_ptr<KernelObject> closed;
    {
        std::lock_guard<std::mutex> hold(Table().mutex);
        auto found = Table().objects.find(h);
        if (found != Table().objects.end()) {
            closed = std::move(found->second);
            Table().objects.erase(found);
        }
    }
    return TRUE;
}
