// The debugger channel is standard error: the text as it is, nothing added.
// Debug output nobody takes is dropped, as on Windows, where a text is lost
// when no debugger listens: a closed standard error (EPIPE) neither kills
// nor stops the run, and a reader that stopped reading never holds it.
// Standard error's own file is never made non-blocking (O_NONBLOCK would
// change it for the shell that shares it), so each kind of file is written
// in its own way, each without waiting and in one system call:
//
//   standard error is           a text is
//   closed, or the null device  not written: nobody can take it
//   a file                      written to fd 2: a file takes it at once
//   a socket (a journal)        sent with MSG_DONTWAIT
//   a pipe, FIFO or terminal    written to a non-blocking open file
//                               description of our own, opened through
//                               /proc/self/fd/2
//   anything else, or with no   written to fd 2 when poll says it can
//   description of our own      go at once (two calls)
//
// A pipe takes up to PIPE_BUF bytes whole or not at all; what a piece
// cannot take is dropped with the rest of the text.
#include "debug_output.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fd_guard.h"
#include "retry_on_interrupt.h"
#include "std_streams.h"
#include "win32_subset.h"

namespace {

enum class Route { Nowhere, File, Socket, OwnDescription, PollFirst };

struct Channel {
    Route route = Route::Nowhere;
    FdGuard own;  // the non-blocking description of Route::OwnDescription
};

Route RouteFor(const struct stat &status)
{
    if (S_ISREG(status.st_mode))
        return Route::File;
    if (S_ISSOCK(status.st_mode))
        return Route::Socket;
    if (S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3))
        return Route::Nowhere;
    return Route::OwnDescription;
}

void Look(Channel &channel)
{
    channel.own.Reset();
    struct stat status;
    channel.route = fstat(STDERR_FILENO, &status) == 0 ? RouteFor(status) : Route::Nowhere;
    if (channel.route != Route::OwnDescription)
        return;
    // O_NOCTTY: a terminal opened again must not become the controlling one.
    channel.own.Reset(open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (channel.own.get() < 0)
        channel.route = Route::PollFirst;
}

bool WritableAtOnce(int fd)
{
    pollfd entry{fd, POLLOUT, 0};
    int ready = RetryOnInterrupt([&] { return poll(&entry, 1, 0); });
    return ready == 1 && (entry.revents & POLLOUT) != 0;
}

// One write that never waits; resumed only when a signal came before any
// byte went. Returns the bytes written.
size_t WriteWithoutWaiting(const Channel &channel, const char *bytes, size_t count)
{
    if (channel.route == Route::Nowhere || (channel.route == Route::PollFirst && !WritableAtOnce(STDERR_FILENO)))
        return 0;
    ssize_t put = RetryOnInterrupt([&] {
        if (channel.route == Route::Socket)
            return send(STDERR_FILENO, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL);
        return write(channel.route == Route::OwnDescription ? channel.own.get() : STDERR_FILENO, bytes, count);
    });
    return put < 0 ? 0 : static_cast<size_t>(put);
}

// Standard error as the first text finds it.
Channel &TheChannel()
{
    static Channel channel;
    static const bool looked = (Look(channel), true);
    (void)looked;
    return channel;
}

}  // namespace

void LookAtStandardErrorAgain()
{
    Look(TheChannel());
}

void OutputDebugStringA(LPCSTR text)
{
    IgnoreBrokenPipe();
    if (text == nullptr)
        return;
    const Channel &channel = TheChannel();
    size_t left = strlen(text);
    while (left > 0) {
        size_t piece = left < PIPE_BUF ? left : PIPE_BUF;
        if (WriteWithoutWaiting(channel, text, piece) != piece)
            return;  // the rest is dropped
        text += piece;
        left -= piece;
    }
}
