#include "std_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "debug_output.h"
#include "failure.h"
#include "retry_on_interrupt.h"

// Standard output when the process has one; NULL, as for a Windows program
// started without one, when fd 1 is closed.
HANDLE GetStdHandle(DWORD which)
{
    if (which != STD_OUTPUT_HANDLE)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    // Looked at once, as Windows fixes a process's standard handles at its start.
    static const HANDLE output =
        fcntl(STDOUT_FILENO, F_GETFD) != -1 ? RegisterObject(std::make_shared<StandardOutput>(STDOUT_FILENO)) : NULL;
    return output;
}

// What fd 1 is now: a file on disk, a character device, a pipe or socket.
DWORD StandardOutput::FileType() const
{
    struct stat status;
    if (fstat(fd_, &status) != 0)
        return FILE_TYPE_UNKNOWN;
    if (S_ISREG(status.st_mode))
        return FILE_TYPE_DISK;
    if (S_ISCHR(status.st_mode))
        return FILE_TYPE_CHAR;
    return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) ? FILE_TYPE_PIPE : FILE_TYPE_UNKNOWN;
}

BOOL StandardOutput::Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    if (ov != nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    // A file on disk takes the bytes at once; anything else may hold the write.
    if (HoldsGatheredTexts() && FileType() != FILE_TYPE_DISK)
        WriteGatheredTextsBeforeWait();
    const char *bytes = static_cast<const char *>(buffer);
    DWORD written = 0;
    while (written < count) {
        ssize_t put = RetryOnInterrupt([&] { return write(fd_, bytes + written, count - written); });
        if (put <= 0) {
            SetLastError(put < 0 ? static_cast<DWORD>(errno) : EIO);
            break;
        }
        written += static_cast<DWORD>(put);
    }
    if (done != nullptr)
        *done = written;
    return written == count ? TRUE : FALSE;
}
