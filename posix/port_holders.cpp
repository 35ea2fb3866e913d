// OtherPortHolders: a look through /proc for the processes that have the
// port open.
//
// It never touches the files it finds. Each open file is known by its
// /proc/PID/fd link, and only the link's text is read (readlink), which
// opens, stats and waits on nothing behind it. A stat would follow the link
// into the file's own file system, and a hung NFS or FUSE mount holds that
// without limit (lsof's -b). So a holder is found by the port's path as the
// kernel names it, symbolic links resolved (/dev/serial/by-id/... is
// /dev/ttyUSB0); one that reached the device through another node (a
// container's own /dev) is not named.
//
// Processes of other users cannot be looked into without privileges; they
// are passed over. The look ends at its bound, with the holders found so far.
#include "system_ports.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "fd_guard.h"
#include "monotonic_clock.h"

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirGuard = std::unique_ptr<DIR, DirCloser>;

// The process a /proc entry names, or 0 for the other entries.
pid_t ProcessOf(const char *entryName)
{
    char *end = nullptr;
    long pid = strtol(entryName, &end, 10);
    return end != entryName && *end == '\0' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// Whether the link `name` in the folder `links` reads `target`.
bool LinkReads(DIR *links, const char *name, const char *target)
{
    char text[PATH_MAX];
    ssize_t length = readlinkat(dirfd(links), name, text, sizeof text - 1);
    if (length < 0)
        return false;
    text[length] = '\0';
    return strcmp(text, target) == 0;
}

// Whether one of `pid`'s open files is `port`, as far as the look gets
// before the monotonic time `end`.
bool HasOpen(pid_t pid, const char *port, uint64_t end)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DirGuard files(opendir(path));
    if (files == nullptr)
        return false;
    while (const dirent *entry = readdir(files.get())) {
        if (MonotonicMs() >= end)
            return false;
        if (entry->d_name[0] != '.' && LinkReads(files.get(), entry->d_name, port))
            return true;
    }
    return false;
}

// `pid`'s command name; empty when it has gone meanwhile.
void NameOf(pid_t pid, char (&name)[16])
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    FdGuard comm(open(path, O_RDONLY | O_CLOEXEC));
    ssize_t length = comm.get() < 0 ? 0 : read(comm.get(), name, sizeof name - 1);
    length = length < 0 ? 0 : length;
    if (length > 0 && name[length - 1] == '\n')
        --length;
    name[length] = '\0';
}

}  // namespace

DWORD OtherPortHolders(LPCSTR portName, PortHolder *holders, DWORD capacity)
{
    const uint64_t end = MonotonicMs() + kPortHoldersLookMs;
    // The port's own node: the run has opened it (or tried) already.
    struct stat port;
    char kernelName[PATH_MAX];
    if (stat(portName, &port) != 0 || !S_ISCHR(port.st_mode) || realpath(portName, kernelName) == nullptr)
        return 0;
    DirGuard processes(opendir("/proc"));
    if (processes == nullptr)
        return 0;
    const pid_t self = getpid();
    DWORD found = 0;
    while (const dirent *entry = readdir(processes.get())) {
        if (MonotonicMs() >= end)
            break;
        pid_t pid = ProcessOf(entry->d_name);
        if (pid == 0 || pid == self || !HasOpen(pid, kernelName, end))
            continue;
        if (found < capacity) {
            holders[found].processId = static_cast<DWORD>(pid);
            NameOf(pid, holders[found].name);
        }
        ++found;
    }
    return found;
}
