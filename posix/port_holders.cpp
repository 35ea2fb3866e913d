// OtherPortHolders: a look through /proc for the processes that have the
// port's device open. Processes of other users cannot be looked into
// without privileges; they are passed over.
#include "system_ports.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "fd_guard.h"

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

// Whether one of `pid`'s open files is the character device `device`.
bool HasOpen(pid_t pid, dev_t device)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DirGuard files(opendir(path));
    if (files == nullptr)
        return false;
    while (const dirent *entry = readdir(files.get())) {
        struct stat file;
        if (entry->d_name[0] != '.' && fstatat(dirfd(files.get()), entry->d_name, &file, 0) == 0 &&
            S_ISCHR(file.st_mode) && file.st_rdev == device)
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
    struct stat port;
    if (stat(portName, &port) != 0 || !S_ISCHR(port.st_mode))
        return 0;
    DirGuard processes(opendir("/proc"));
    if (processes == nullptr)
        return 0;
    const pid_t self = getpid();
    DWORD found = 0;
    while (const dirent *entry = readdir(processes.get())) {
        pid_t pid = ProcessOf(entry->d_name);
        if (pid == 0 || pid == self || !HasOpen(pid, port.st_rdev))
            continue;
        if (found < capacity) {
            holders[found].processId = static_cast<DWORD>(pid);
            NameOf(pid, holders[found].name);
        }
        ++found;
    }
    return found;
}
