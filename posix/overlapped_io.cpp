// ReadFile/WriteFile only record the request; the waits drive it with
// poll() on the non-blocking fd. A request completes by setting
// ov->Internal (0, or the error GetOverlappedResult reports) and
// ov->InternalHigh (bytes moved, kept on failure too), then its event.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "monotonic_clock.h"
#include "output_queue.h"
#include "overlapped_io.h"
#include "std_streams.h"

namespace {

const short kHangUp = POLLHUP | POLLERR | POLLNVAL;

bool Complete(std::optional<IoRequest> &slot, DWORD status)
{
    IoRequest request = *slot;
    slot.reset();
    request.ov->Internal = status;
    request.ov->InternalHigh = request.progress.done;
    if (Event *event = Find<Event>(request.event))
        event->Set();
    return true;
}

// Waits for `events` on fd for at most waitMs; revents 0 when the time
// passed or a signal came. Returns 0 or the errno of a failed poll().
int PollFor(int fd, short events, uint64_t waitMs, short &revents)
{
    pollfd entry{fd, events, 0};
    int timeout = waitMs == kForever ? -1 : static_cast<int>(std::min<uint64_t>(waitMs, INT_MAX));
    revents = 0;
    if (poll(&entry, 1, timeout) < 0)
        return errno == EINTR ? 0 : errno;
    revents = entry.revents;
    return 0;
}

// Reads what the fd holds, up to the count; 0 or the errno of the read.
int PullBytes(int fd, IoRequest &request)
{
    IoProgress &progress = request.progress;
    while (progress.done < progress.count) {
        ssize_t got = read(fd, request.readBuffer + progress.done, progress.count - progress.done);
        if (got > 0) {
            progress.done += static_cast<DWORD>(got);
            progress.lastByteMs = MonotonicMs();
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        // A raw tty with VMIN=0 reads 0 when empty; EAGAIN says the same.
        if (got == 0 || errno == EAGAIN)
            return 0;
        return errno;
    }
    return 0;
}

// Writes what the fd takes; 0 or the errno of the write.
int PushBytes(int fd, IoRequest &request)
{
    IoProgress &progress = request.progress;
    while (progress.done < progress.count) {
        ssize_t put = write(fd, request.writeBuffer + progress.done, progress.count - progress.done);
        if (put > 0) {
            progress.done += static_cast<DWORD>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put == 0 || errno == EAGAIN)
            return 0;
        return errno;
    }
    return 0;
}

// Drives the port's read until it completes (true) or `limit` passes.
//
// A hung-up tty does not always say so with an error: a pty slave whose
// master closed reads 0, with its unread input discarded, and polls
// POLLIN|POLLERR|POLLHUP. So POLLHUP or POLLERR followed by a read that
// brings nothing is a hang-up (EIO), never a zero-byte success to be
// retried in a busy loop. Like Windows and Wine, a read that already
// holds bytes completes with them; the next read reports the hang-up.
bool DriveRead(CommPort &port, uint64_t limit)
{
    IoRequest &request = *port.read;
    short revents = 0;
    bool pollTimedOut = false;
    for (;;) {
        // After a quiet poll the rules may have ended the read: bytes that
        // came since belong to the next read, as they would on Windows.
        if (pollTimedOut && NextReadStep(request.readTimeouts, request.progress, MonotonicMs()).ends)
            return Complete(port.read, 0);
        DWORD before = request.progress.done;
        if (int error = PullBytes(port.fd(), request))
            return Complete(port.read, error);
        // Only the device's word counts as a hang-up: a wake-up whose bytes
        // another reader of the device took first is no hang-up.
        if ((revents & kHangUp) != 0 && request.progress.done == before)
            return Complete(port.read, request.progress.done > 0 ? 0 : EIO);
        uint64_t now = MonotonicMs();
        IoStep step = NextReadStep(request.readTimeouts, request.progress, now);
        if (step.ends)
            return Complete(port.read, 0);
        if (now >= limit)
            return false;
        if (int error = PollFor(port.fd(), POLLIN, std::min(step.waitMs, limit - now), revents))
            return Complete(port.read, error);
        pollTimedOut = revents == 0;
    }
}

// How often a write looks again at output it cannot wait for with poll():
// bytes still queued in the driver, or DSR holding them back.
const uint64_t kOutputCheckMs = 5;

// DSR flow control, which termios lacks: output waits while the device
// reports DSR low. A device without modem lines (a pty) holds nothing back.
bool DsrHoldsOutput(const CommPort &port)
{
    int lines = 0;
    return port.outxDsrFlow && ioctl(port.fd(), TIOCMGET, &lines) == 0 && (lines & TIOCM_DSR) == 0;
}

// Ends the write with the bytes that left. What the driver still queues is
// discarded, so that neither the next write nor the close waits for it.
bool CompleteWrite(CommPort &port, DWORD queued)
{
    if (queued > 0)
        tcflush(port.fd(), TCOFLUSH);
    port.write->progress.done -= std::min(port.write->progress.done, queued);
    return Complete(port.write, 0);
}

// Drives the port's write until it completes (true) or `limit` passes. A
// write is done when its bytes have left the driver, not when the driver
// took them: CTS flow control (CRTSCTS) or DSR may hold them. A write
// that reaches its total time-out completes successfully with the bytes
// that left, as a read time-out does on Windows (STATUS_TIMEOUT is a
// success status there).
bool DriveWrite(CommPort &port, uint64_t limit)
{
    IoRequest &request = *port.write;
    short revents = 0;
    for (;;) {
        DWORD before = request.progress.done;
        bool held = DsrHoldsOutput(port);
        if (!held)
            if (int error = PushBytes(port.fd(), request))
                return Complete(port.write, error);
        if ((revents & kHangUp) != 0 && request.progress.done == before)
            return Complete(port.write, EIO);
        uint64_t now = MonotonicMs();
        DWORD queued = QueuedOutput(port.fd());
        IoProgress left = request.progress;
        left.done -= std::min(left.done, queued);
        IoStep step = NextWriteStep(request.writeTotalMs, left, now);
        if (step.ends)
            return CompleteWrite(port, queued);
        if (now >= limit)
            return false;
        // Room in the driver can be waited for; the rest is looked at again shortly.
        bool forRoom = !held && request.progress.done < request.progress.count;
        uint64_t waitMs = std::min(step.waitMs, limit - now);
        if (!forRoom)
            waitMs = std::min(waitMs, kOutputCheckMs);
        if (int error = PollFor(port.fd(), forRoom ? POLLOUT : 0, waitMs, revents))
            return Complete(port.write, error);
    }
}

bool Drive(CommPort &port, std::optional<IoRequest> &slot, uint64_t limit)
{
    return &slot == &port.read ? DriveRead(port, limit) : DriveWrite(port, limit);
}

// The pending request of `port` that `ov` controls, or null.
std::optional<IoRequest> *RequestOf(CommPort &port, const OVERLAPPED *ov)
{
    for (std::optional<IoRequest> *slot : {&port.read, &port.write})
        if (slot->has_value() && (*slot)->ov == ov)
            return slot;
    return nullptr;
}

// Records a request in `slot`: the common part of ReadFile and WriteFile.
BOOL StartRequest(CommPort &port, std::optional<IoRequest> &slot, IoRequest request, LPDWORD done)
{
    // One read and one write at a time; Windows would queue more, the
    // program never asks for it.
    if (request.ov == nullptr || slot.has_value() || RequestOf(port, request.ov) != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (done != nullptr)
        *done = 0;
    // As on Windows, the start of an overlapped request resets its event.
    if (Event *event = Find<Event>(request.event))
        event->Reset();
    request.ov->Internal = STATUS_PENDING;
    request.ov->InternalHigh = 0;
    slot = request;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

IoRequest NewRequest(LPOVERLAPPED ov, DWORD count)
{
    IoRequest request{};
    request.ov = ov;
    request.event = ov != nullptr ? ov->hEvent : nullptr;
    request.progress = IoProgress{MonotonicMs(), 0, 0, count};
    return request;
}

}  // namespace

IoDrive DriveIoOf(HANDLE event, DWORD milliseconds)
{
    for (KernelObject *object : LiveObjects()) {
        CommPort *port = dynamic_cast<CommPort *>(object);
        if (port == nullptr)
            continue;
        for (std::optional<IoRequest> *slot : {&port->read, &port->write})
            if (slot->has_value() && (*slot)->event == event)
                return Drive(*port, *slot, LimitAfter(milliseconds)) ? IoDrive::Completed : IoDrive::Pending;
    }
    return IoDrive::NoIo;
}

void CancelPortIo(CommPort &port)
{
    if (port.read.has_value())
        Complete(port.read, ERROR_OPERATION_ABORTED);
    if (port.write.has_value())
        Complete(port.write, ERROR_OPERATION_ABORTED);
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    CommPort *port = FindTerminalOrFail(h);
    if (port == nullptr)
        return FALSE;
    IoRequest request = NewRequest(ov, count);
    request.readBuffer = static_cast<char *>(buffer);
    request.readTimeouts = ReadTimeoutsFor(port->timeouts, count);
    return StartRequest(*port, port->read, request, done);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    if (const StdStream *stream = Find<StdStream>(h))
        return WriteStdStream(*stream, buffer, count, done, ov);
    CommPort *port = FindTerminalOrFail(h);
    if (port == nullptr)
        return FALSE;
    IoRequest request = NewRequest(ov, count);
    request.writeBuffer = static_cast<const char *>(buffer);
    request.writeTotalMs = WriteTotalFor(port->timeouts, count);
    return StartRequest(*port, port->write, request, done);
}

BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait)
{
    CommPort *port = FindOrFail<CommPort>(h);
    if (port == nullptr)
        return FALSE;
    if (ov == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ov->Internal == STATUS_PENDING) {
        std::optional<IoRequest> *slot = RequestOf(*port, ov);
        if (slot == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        HANDLE event = (*slot)->event;
        Drive(*port, *slot, kForever);
        // Windows waits on the event here, which resets an auto-reset one.
        if (Event *signalled = Find<Event>(event))
            signalled->Take();
    }
    if (done != nullptr)
        *done = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal == 0)
        return TRUE;
    SetLastError(static_cast<DWORD>(ov->Internal));
    return FALSE;
}

BOOL CancelIo(HANDLE h)
{
    CommPort *port = FindOrFail<CommPort>(h);
    if (port == nullptr)
        return FALSE;
    CancelPortIo(*port);
    return TRUE;
}
