// The debugger channel is standard error: the text as it is, nothing added.
// Debug output nobody takes is dropped, as on Windows, where a text is lost
// when no debugger listens: a closed standard error (EPIPE) neither kills
// nor stops the run, and a reader that stopped reading never holds it.
//
// Texts traced back to back are gathered, up to PIPE_BUF bytes (what a
// pipe takes whole or not at all), and go out in one write: where the
// thread that traced them is about to block (so a wait that finds its
// event set, or a read whose bytes are there, writes nothing), when the
// next text would not fit, and on every way out. Standard error is looked
// at (one fstat) at each write, so a moved standard error is followed. Its
// own file is never made non-blocking (O_NONBLOCK would change it for the
// shell that shares it), so each kind of file is written in its own way,
// each without waiting:
//
//   standard error is           the gathered texts are
//   closed, or the null device  not written: nobody can take them
//   a file                      written to fd 2: a file takes them at once
//   a socket (a journal)        sent with MSG_DONTWAIT
//   anything else (a pipe,      written to a non-blocking open file
//   FIFO or terminal)           description of our own, opened through
//                               /proc/self/fd/2; if that cannot be
//                               opened, to fd 2 when poll says it takes
//                               them at once
//
// What standard error cannot take is dropped, whole texts with it.
#include "debug_output.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "retry_on_interrupt.h"
#include "win32_subset.h"

namespace {

enum class Route { Nowhere, File, Socket, OwnDescription, PollFirst };

// Where the texts go, and which file standard error was when last looked
// at. Plain data: a stop signal's handler uses it, and a trace may come
// from any late clean-up, so its description lives as long as the process.
struct Channel {
    bool looked;
    bool closedAtStart;  // then any later fd 2 is one of the program's own files
    Route route;
    dev_t device;
    ino_t inode;
    int own;  // the non-blocking description of Route::OwnDescription, or -1
};

// The gather's word: 0 while nobody has the gather; kHad while a thread
// has it, with the stop signal that came meanwhile above it, for that
// thread to raise again as it lets go (debug_output.h).
const int kHad = 1;

int HadWithSignal(int signalNumber)
{
    return kHad | signalNumber << 1;
}

struct Gather {
    std::atomic<int> word;
    size_t size;  // bytes of whole texts in `bytes`, for the thread that has the gather
    char bytes[PIPE_BUF];
    Channel channel;
};

Gather theGather{{0}, 0, {}, {false, false, Route::Nowhere, 0, 0, -1}};

// Whether this thread traced texts since it last wrote the gather; another
// thread may have written them meanwhile, and it then finds the gather empty.
thread_local bool tracedSinceWrite = false;

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

void CloseOwn(Channel &channel)
{
    if (channel.own >= 0)
        close(channel.own);
    channel.own = -1;
}

// Standard error as it is now; its own description is opened again only
// when it is another file than last time. Async-signal-safe.
void Look(Channel &channel)
{
    struct stat status;
    bool isOpen = fstat(STDERR_FILENO, &status) == 0;
    if (!channel.looked) {
        channel.looked = true;
        channel.closedAtStart = !isOpen;
    }
    if (!isOpen || channel.closedAtStart) {
        CloseOwn(channel);
        channel.route = Route::Nowhere;
        return;
    }
    bool sameFile = channel.device == status.st_dev && channel.inode == status.st_ino;
    channel.device = status.st_dev;
    channel.inode = status.st_ino;
    Route route = RouteFor(status);
    if (route == Route::OwnDescription && sameFile &&
        (channel.route == Route::OwnDescription || channel.route == Route::PollFirst))
        return;
    CloseOwn(channel);
    channel.route = route;
    if (route != Route::OwnDescription)
        return;
    // O_NOCTTY: a terminal opened again must not become the controlling one.
    channel.own = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (channel.own < 0)
        channel.route = Route::PollFirst;
}

bool WritableAtOnce(int fd)
{
    pollfd entry{fd, POLLOUT, 0};
    int ready = RetryOnInterrupt([&] { return poll(&entry, 1, 0); });
    return ready == 1 && (entry.revents & POLLOUT) != 0;
}

// One write that never waits; resumed only when a signal came before any
// byte went. Returns the bytes written. Async-signal-safe.
size_t WriteWithoutWaiting(const Channel &channel, const char *bytes, size_t count)
{
    if (channel.route == Route::Nowhere || (channel.route == Route::PollFirst && !WritableAtOnce(STDERR_FILENO)))
        return 0;
    ssize_t put = RetryOnInterrupt([&] {
        if (channel.route == Route::Socket)
            return send(STDERR_FILENO, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL);
        return write(channel.route == Route::OwnDescription ? channel.own : STDERR_FILENO, bytes, count);
    });
    return put < 0 ? 0 : static_cast<size_t>(put);
}

// Writes what is gathered, in one write, and empties the gather. With the
// gather had. Async-signal-safe.
void WriteTaken(Gather &gather)
{
    if (gather.size == 0)
        return;
    Look(gather.channel);
    WriteWithoutWaiting(gather.channel, gather.bytes, gather.size);
    gather.size = 0;
}

// A text longer than the gather holds: in pieces of what a pipe takes
// whole; what a piece cannot take is dropped with the rest of the text.
void WriteLong(Gather &gather, const char *text, size_t length)
{
    Look(gather.channel);
    while (length > 0) {
        size_t piece = length < PIPE_BUF ? length : PIPE_BUF;
        if (WriteWithoutWaiting(gather.channel, text, piece) != piece)
            return;
        text += piece;
        length -= piece;
    }
}

// Lets the gather go; a stop signal that came while it was had is raised
// again, now that its handler finds the texts whole. Async-signal-safe.
void LetGo(Gather &gather)
{
    int word = gather.word.exchange(0, std::memory_order_release);
    if (word != kHad)
        raise(word >> 1);
}

// The gather, had by this thread while this lives. The other thread has it
// only for a copy or writes that never wait.
class Had {
public:
    explicit Had(Gather &gather) : gather_(gather)
    {
        int nobody = 0;
        while (!gather_.word.compare_exchange_strong(nobody, kHad, std::memory_order_acquire)) {
            nobody = 0;
            sched_yield();
        }
    }
    ~Had() { LetGo(gather_); }
    Had(const Had &) = delete;
    Had &operator=(const Had &) = delete;

private:
    Gather &gather_;
};

}  // namespace

void OutputDebugStringA(LPCSTR text)
{
    size_t length = text == nullptr ? 0 : strlen(text);
    if (length == 0)
        return;
    Gather &gather = theGather;
    Had had(gather);
    // Whether standard error is open is seen at the first text, which comes
    // before the program opens a file of its own that could take fd 2.
    if (!gather.channel.looked)
        Look(gather.channel);
    if (gather.size + length > sizeof gather.bytes) {
        WriteTaken(gather);
        if (length > sizeof gather.bytes) {
            WriteLong(gather, text, length);
            return;
        }
    }
    memcpy(gather.bytes + gather.size, text, length);
    gather.size += length;
    tracedSinceWrite = true;
}

bool HoldsGatheredTexts()
{
    return tracedSinceWrite;
}

void WriteGatheredTextsBeforeWait()
{
    if (!tracedSinceWrite)
        return;  // texts only other threads traced wait for their waits
    Had had(theGather);
    WriteTaken(theGather);
    tracedSinceWrite = false;
}

void WriteGatheredTexts()
{
    Had had(theGather);
    WriteTaken(theGather);
}

bool WriteGatheredTextsOnSignal(int signalNumber)
{
    Gather &gather = theGather;
    int word = gather.word.load(std::memory_order_acquire);
    for (;;) {
        if (word == 0) {
            if (gather.word.compare_exchange_strong(word, kHad, std::memory_order_acquire))
                break;
        } else if (word != kHad) {
            return false;  // a stop signal waits for that thread already
        } else if (gather.word.compare_exchange_strong(word, HadWithSignal(signalNumber))) {
            return false;
        }
    }
    WriteTaken(gather);
    LetGo(gather);
    return true;
}
