// A comm port's overlapped I/O. ReadFile, and WriteFile on a port, record
// the request; the waits drive it with poll() on the non-blocking fd
// (WriteFile on standard output is that object's own: std_streams.cpp).
// A request completes by setting
// ov->Internal (0, or the error GetOverlappedResult reports) and
// ov->InternalHigh (bytes moved, kept on failure too), then its event.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "comm_port.h"
#include "debug_output.h"
#include "failure.h"
#include "monotonic_clock.h"
#include "output_queue.h"
#include "retry_on_interrupt.h"

namespace {

const short kHangUp = POLLHUP | POLLERR | POLLNVAL;

// Ends the request in `slot` with `status`, and signals its event.
template <class Request> void Complete(std::optional<Request> &slot, DWORD status)
{
    IoRequest request = std::move(*slot);
    slot.reset();
    request.ov->Internal = status;
    request.ov->InternalHigh = request.progress.done;
    if (request.event != nullptr) {
        request.event->DetachDriver();
        request.event->Set();
    }
}

// Completes the request in `slot` with the status its drive ended it with
// (unless a cancel has completed it meanwhile); false when the drive's
// limit passed first.
template <class Request> bool Finish(std::optional<Request> &slot, std::optional<DWORD> status)
{
    if (!status)
        return false;
    if (slot)
        Complete(slot, *status);
    return true;
}

// Moves bytes with `transfer` (a read or a write of the next `left` bytes
// at `at`) until the count is reached or the fd takes or holds no more for
// now; 0, or the errno of the call that failed. A raw tty with VMIN=0
// reads 0 when empty; EAGAIN says the same.
template <class Transfer> int MoveBytes(IoProgress &progress, Transfer transfer)
{
    while (progress.done < progress.count) {
        ssize_t moved = RetryOnInterrupt([&] { return transfer(progress.done, progress.count - progress.done); });
        if (moved == 0 || (moved < 0 && errno == EAGAIN))
            return 0;
        if (moved < 0)
            return errno;
        progress.done += static_cast<DWORD>(moved);
    }
    return 0;
}

// Reads what the fd holds, up to the count.
int PullBytes(int fd, ReadRequest &request)
{
    DWORD before = request.progress.done;
    int error = MoveBytes(request.progress,
                          [&](DWORD at, DWORD left) { return read(fd, request.buffer + at, left); });
    if (request.progress.done > before)
        request.progress.lastByteMs = MonotonicMs();
    return error;
}

// Writes what the fd takes.
int PushBytes(int fd, WriteRequest &request)
{
    return MoveBytes(request.progress, [&](DWORD at, DWORD left) { return write(fd, request.buffer + at, left); });
}

// How often a write looks again at output it cannot wait for with poll():
// bytes still queued in the driver, or DSR holding them back.
const uint64_t kOutputCheckMs = 5;

// The input lines; where all of them read low the driver reports none.
const int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;

template <class Request> Request NewRequest(LPOVERLAPPED ov, DWORD count)
{
    Request request{};
    request.ov = ov;
    if (ov != nullptr && ov->hEvent != NULL)
        request.event = Reference<Event>(ov->hEvent);
    request.progress = IoProgress{MonotonicMs(), 0, 0, count};
    return request;
}

}  // namespace

int CommPort::PollFor(short events, uint64_t waitMs, short &revents, bool &woken)
{
    if (waitMs != 0)
        WriteGatheredTextsBeforeWait();
    pollfd entries[] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
    int timeout = waitMs == kForever ? -1 : static_cast<int>(std::min<uint64_t>(waitMs, INT_MAX));
    revents = 0;
    woken = false;
    if (poll(entries, 2, timeout) < 0)
        return errno == EINTR ? 0 : errno;
    revents = entries[0].revents;
    woken = entries[1].revents != 0;
    return 0;
}

// A cancel from another thread takes the port while this drive lets go of it.
void CommPort::GiveWayToCancels(std::unique_lock<std::mutex> &hold)
{
    cancelsDone_.wait(hold, [this] { return cancels_ == 0; });
}

// Drives the read until it ends (its status) or `limit` passes (none).
//
// A hung-up tty does not always say so with an error: a pty slave whose
// master closed reads 0, with its unread input discarded, and polls
// POLLIN|POLLERR|POLLHUP. So POLLHUP or POLLERR followed by a read that
// brings nothing is a hang-up (EIO), never a zero-byte success to be
// retried in a busy loop. Like Windows and Wine, a read that already
// holds bytes completes with them; the next read reports the hang-up.
std::optional<DWORD> CommPort::DriveRead(uint64_t limit, std::unique_lock<std::mutex> &hold)
{
    short revents = 0;
    bool pollTimedOut = false;
    for (;;) {
        ReadRequest &request = *read_;
        // After a quiet poll the rules may have ended the read: bytes that
        // came since belong to the next read, as they would on Windows.
        if (pollTimedOut && NextReadStep(request.timeouts, request.progress, MonotonicMs()).ends)
            return 0;
        DWORD before = request.progress.done;
        if (int error = PullBytes(fd_, request))
            return error;
        // Only the device's word counts as a hang-up: a wake-up whose bytes
        // another reader of the device took first is no hang-up.
        if ((revents & kHangUp) != 0 && request.progress.done == before)
            return request.progress.done > 0 ? 0 : EIO;
        uint64_t now = MonotonicMs();
        IoStep step = NextReadStep(request.timeouts, request.progress, now);
        if (step.ends)
            return 0;
        if (now >= limit)
            return std::nullopt;
        bool woken = false;
        if (int error = PollFor(POLLIN, std::min(step.waitMs, limit - now), revents, woken))
            return error;
        if (woken) {
            GiveWayToCancels(hold);
            if (!read_.has_value())
                return ERROR_OPERATION_ABORTED;  // the cancel has completed it
        }
        pollTimedOut = revents == 0;
    }
}

// DSR flow control, which termios lacks: output waits while the device
// reports DSR low. A device without modem lines (a pty) holds nothing
// back, nor does one whose driver reports no input line (usb_wwan without
// a status endpoint reads all low for the port's whole life, so holding
// there would fail every write on a port that takes bytes). Looked at
// afresh each time: a status endpoint may report the lines after open.
bool CommPort::DsrHoldsOutput() const
{
    int lines = 0;
    if (!outxDsrFlow || ioctl(fd_, TIOCMGET, &lines) != 0)
        return false;
    return (lines & kInputLines) != 0 && (lines & TIOCM_DSR) == 0;
}

// Counts only the bytes that left. What the driver still queues is
// discarded, so that neither the next write nor the close waits for it.
void CommPort::DiscardQueued(DWORD queued)
{
    if (queued > 0)
        tcflush(fd_, TCOFLUSH);
    write_->progress.done -= std::min(write_->progress.done, queued);
}

// Drives the write until it ends (its status) or `limit` passes (none). A write
// is done when its bytes have left the driver, not when the driver took
// them: CTS flow control (CRTSCTS) or DSR may hold them. A write that
// reaches its total time-out completes successfully with the bytes that
// left, as a read time-out does on Windows (STATUS_TIMEOUT is a success
// status there).
std::optional<DWORD> CommPort::DriveWrite(uint64_t limit, std::unique_lock<std::mutex> &hold)
{
    short revents = 0;
    for (;;) {
        WriteRequest &request = *write_;
        DWORD before = request.progress.done;
        bool held = DsrHoldsOutput();
        if (!held)
            if (int error = PushBytes(fd_, request))
                return error;
        if ((revents & kHangUp) != 0 && request.progress.done == before)
            return EIO;
        uint64_t now = MonotonicMs();
        DWORD queued = QueuedOutput(fd_);
        IoProgress left = request.progress;
        left.done -= std::min(left.done, queued);
        IoStep step = NextWriteStep(request.totalMs, left, now);
        if (step.ends) {
            DiscardQueued(queued);
            return 0;
        }
        if (now >= limit)
            return std::nullopt;
        // Room in the driver can be waited for; the rest is looked at again shortly.
        bool forRoom = !held && request.progress.done < request.progress.count;
        uint64_t waitMs = std::min(step.waitMs, limit - now);
        if (!forRoom)
            waitMs = std::min(waitMs, kOutputCheckMs);
        bool woken = false;
        if (int error = PollFor(forRoom ? POLLOUT : 0, waitMs, revents, woken))
            return error;
        if (woken) {
            GiveWayToCancels(hold);
            if (!write_.has_value())
                return ERROR_OPERATION_ABORTED;  // the cancel has completed it
        }
    }
}

// Drives a request; true when it has completed, false when `limit` passed first.
bool CommPort::DriveRequest(Direction direction, uint64_t limit, std::unique_lock<std::mutex> &hold)
{
    if (direction == Direction::Read)
        return Finish(read_, DriveRead(limit, hold));
    return Finish(write_, DriveWrite(limit, hold));
}

DriveOutcome CommPort::DriveRequestOf(const Event &event, uint64_t limit)
{
    std::unique_lock<std::mutex> hold(io_);
    GiveWayToCancels(hold);
    std::optional<Direction> direction = RequestOf(event);
    if (!direction)
        return DriveOutcome::NoIo;
    return DriveRequest(*direction, limit, hold) ? DriveOutcome::Completed : DriveOutcome::Pending;
}

std::optional<CommPort::Direction> CommPort::RequestOf(const Event &event) const
{
    if (read_ && read_->event.get() == &event)
        return Direction::Read;
    if (write_ && write_->event.get() == &event)
        return Direction::Write;
    return std::nullopt;
}

std::optional<CommPort::Direction> CommPort::RequestOf(const OVERLAPPED *ov) const
{
    if (read_ && read_->ov == ov)
        return Direction::Read;
    if (write_ && write_->ov == ov)
        return Direction::Write;
    return std::nullopt;
}

// Records a request in `slot`: the common part of ReadFile and WriteFile.
// Called with io_ held.
template <class Request>
BOOL CommPort::StartRequest(std::optional<Request> &slot, Request request, LPDWORD done)
{
    if (!terminal())
        return Fail(ERROR_INVALID_FUNCTION);
    // One read and one write at a time; Windows would queue more, the
    // program never asks for it.
    if (request.ov == nullptr || slot.has_value() || RequestOf(request.ov))
        return Fail(ERROR_INVALID_PARAMETER);
    if (done != nullptr)
        *done = 0;
    // As on Windows, the start of an overlapped request resets its event.
    if (request.event != nullptr) {
        request.event->Reset();
        request.event->AttachDriver(std::static_pointer_cast<CommPort>(shared_from_this()));
    }
    request.ov->Internal = STATUS_PENDING;
    request.ov->InternalHigh = 0;
    slot = std::move(request);
    return Fail(ERROR_IO_PENDING);
}

BOOL CommPort::StartRead(LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    auto request = NewRequest<ReadRequest>(ov, count);
    request.buffer = static_cast<char *>(buffer);
    request.timeouts = ReadTimeoutsFor(timeouts(), count);
    std::unique_lock<std::mutex> hold(io_);
    GiveWayToCancels(hold);
    return StartRequest(read_, std::move(request), done);
}

BOOL CommPort::Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    auto request = NewRequest<WriteRequest>(ov, count);
    request.buffer = static_cast<const char *>(buffer);
    request.totalMs = WriteTotalFor(timeouts(), count);
    std::unique_lock<std::mutex> hold(io_);
    GiveWayToCancels(hold);
    return StartRequest(write_, std::move(request), done);
}

BOOL CommPort::Result(LPOVERLAPPED ov, LPDWORD done, BOOL wait)
{
    std::unique_lock<std::mutex> hold(io_);
    GiveWayToCancels(hold);
    if (ov->Internal == STATUS_PENDING) {
        std::optional<Direction> direction = RequestOf(ov);
        if (!direction)
            return Fail(ERROR_INVALID_PARAMETER);
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE);
        std::shared_ptr<Event> event = *direction == Direction::Read ? read_->event : write_->event;
        DriveRequest(*direction, kForever, hold);
        // Windows waits on the event here, which resets an auto-reset one.
        if (event != nullptr)
            event->Take();
    }
    if (done != nullptr)
        *done = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal == 0)
        return TRUE;
    return Fail(ov->Internal);
}

void CommPort::Cancel()
{
    ++cancels_;
    // Wakes a drive waiting in poll() on another thread; it gives way.
    eventfd_write(wake_, 1);
    std::lock_guard<std::mutex> hold(io_);
    if (read_.has_value())
        Complete(read_, ERROR_OPERATION_ABORTED);
    if (write_.has_value())
        Complete(write_, ERROR_OPERATION_ABORTED);
    // The last cancel takes every wake back, so no later poll wakes for nothing.
    if (--cancels_ == 0) {
        eventfd_t wakes;
        eventfd_read(wake_, &wakes);
    }
    cancelsDone_.notify_all();
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    std::shared_ptr<CommPort> port = Reference<CommPort>(h);
    return port == nullptr ? FALSE : port->StartRead(buffer, count, done, ov);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov)
{
    std::shared_ptr<KernelObject> object = ReferenceObject(h);
    return object == nullptr ? FALSE : object->Write(buffer, count, done, ov);
}

BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait)
{
    std::shared_ptr<CommPort> port = Reference<CommPort>(h);
    if (port == nullptr)
        return FALSE;
    if (ov == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->Result(ov, done, wait);
}

BOOL CancelIo(HANDLE h)
{
    return ActOn<CommPort>(h, [](CommPort &port) { port.Cancel(); });
}
