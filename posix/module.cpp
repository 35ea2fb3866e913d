// Modules and paths: the running executable's path, path editing in place,
// and run-time loading of a shared library.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "debug_output.h"
#include "failure.h"
#include "win32_subset.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The whole target of /proc/self/exe, however long; false with errno set.
bool ReadExecutablePath(std::string &path)
{
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (length < 0)
            return false;
        // readlink cuts silently: only a result shorter than the buffer is whole.
        if (static_cast<size_t>(length) < buffer.size()) {
            path.assign(buffer, 0, static_cast<size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

// Only the executable itself (module NULL) is supported. As on Windows
// since Vista: a path that does not fit is cut to size - 1 characters and
// terminated, and the result is `size` with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size)
{
    if (module != NULL)
        return Fail<DWORD>(ERROR_MOD_NOT_FOUND);
    std::string executable;
    if (!ReadExecutablePath(executable))
        return Fail<DWORD>(errno);
    if (size == 0)
        return Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    if (executable.size() >= size) {
        memcpy(path, executable.data(), size - 1);
        path[size - 1] = '\0';
        // Cut, as Windows cuts it: the size back, with the error.
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(path, executable.c_str(), executable.size() + 1);
    return static_cast<DWORD>(executable.size());
}

// Drops the last component and the separator before it; the root keeps its
// separator. Either separator counts, '/' being this platform's own.
BOOL PathRemoveFileSpecA(LPSTR path)
{
    char *last = NULL;
    for (char *p = path; *p != '\0'; ++p) {
        if (IsSeparator(*p))
            last = p;
    }
    if (last == NULL) {
        if (path[0] == '\0')
            return FALSE;
        path[0] = '\0';
        return TRUE;
    }
    if (last == path) {
        if (last[1] == '\0')
            return FALSE;
        last[1] = '\0';
        return TRUE;
    }
    *last = '\0';
    return TRUE;
}

// Joins with exactly one '/'. When the result would not fit in MAX_PATH
// characters with its NUL, empties `path` and returns FALSE, as Windows does.
BOOL PathAppendA(LPSTR path, LPCSTR more)
{
    while (IsSeparator(*more))
        ++more;
    size_t length = strlen(path);
    bool needSeparator = length > 0 && !IsSeparator(path[length - 1]) && *more != '\0';
    size_t moreLength = strlen(more);
    if (length + (needSeparator ? 1 : 0) + moreLength >= MAX_PATH) {
        path[0] = '\0';
        return FALSE;
    }
    if (needSeparator)
        path[length++] = '/';
    memcpy(path + length, more, moreLength + 1);
    return TRUE;
}

// A name with a '/' is used as it is; dlopen searches for one without.
// The library's own code runs in the load and the unload and may write to
// standard error too: the traces before it go out first, in their order.
HMODULE LoadLibraryA(LPCSTR name)
{
    WriteGatheredTextsBeforeWait();
    HMODULE module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    return module != NULL ? module : Fail<HMODULE>(ERROR_MOD_NOT_FOUND);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    void *address = dlsym(module, name);
    if (address == NULL)
        return Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
    // POSIX guarantees that a dlsym result converts to a function pointer.
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module)
{
    WriteGatheredTextsBeforeWait();
    return dlclose(module) == 0 ? TRUE : FALSE;
}
