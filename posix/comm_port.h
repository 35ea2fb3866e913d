// An open comm port: its fd, its time-outs and its pending requests.
#pragma once

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <termios.h>

#include "comm_timeouts.h"
#include "event.h"

// What an overlapped read and write have alike, recorded by ReadFile /
// WriteFile and driven by the waits until it completes. It holds its
// event, as Windows' I/O manager does, so completing it never meets a
// freed event.
struct IoRequest {
    OVERLAPPED *ov;
    std::shared_ptr<Event> event;  // as ov->hEvent was at the start, or null
    IoProgress progress;
};

struct ReadRequest : IoRequest {
    char *buffer;              // where the bytes go
    ReadTimeouts timeouts;     // as the port's were at the start
};

struct WriteRequest : IoRequest {
    const char *buffer;        // where the bytes come from
    uint64_t totalMs;          // the total limit; 0: none
};

// An open file or device. Windows opens any existing one; the comm calls
// then fail on what is not a terminal.
//
// Threads: the request slots are kept under `io_`, which a drive holds
// while it waits in poll(). A cancel (CancelIo, or the close) from another
// thread wakes that poll through `wake_` and takes over, so it never waits
// for the drive's time to run out; the woken drive gives way until the
// cancel is done. The settings are kept under `settings_`, so that the
// comm calls never wait for a drive.
class CommPort : public KernelObject, public RequestDriver {
public:
    static const ObjectType kType = ObjectType::CommPort;

    // `settingsAtOpen`: a terminal's settings as found, put back at its
    // close (or on a way out that skips it); none for what is no terminal.
    // `wake`: an eventfd. Both fds are owned from now on.
    CommPort(int fd, int wake, std::optional<termios> settingsAtOpen);
    ~CommPort() override;

    int fd() const { return fd_; }
    bool terminal() const { return settingsAtOpen_.has_value(); }

    COMMTIMEOUTS timeouts()
    {
        std::lock_guard<std::mutex> hold(settings_);
        return timeouts_;
    }
    void SetTimeouts(const COMMTIMEOUTS &timeouts)
    {
        std::lock_guard<std::mutex> hold(settings_);
        timeouts_ = timeouts;
    }
    std::atomic<bool> outxDsrFlow{false};  // hold output while DSR is low

    // ReadFile / WriteFile: record the request; FALSE with ERROR_IO_PENDING.
    BOOL StartRead(LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
    BOOL Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) override;
    // GetOverlappedResult.
    BOOL Result(LPOVERLAPPED ov, LPDWORD done, BOOL wait);
    // CancelIo: pending requests complete with ERROR_OPERATION_ABORTED.
    void Cancel();
    void Close() override { Cancel(); }
    DriveOutcome DriveRequestOf(const Event &event, uint64_t limit) override;

private:
    enum class Direction { Read, Write };

    template <class Request>
    BOOL StartRequest(std::optional<Request> &slot, Request request, LPDWORD done);
    // The pending request that signals `event`, or that uses `ov`.
    std::optional<Direction> RequestOf(const Event &event) const;
    std::optional<Direction> RequestOf(const OVERLAPPED *ov) const;
    bool DriveRequest(Direction direction, uint64_t limit, std::unique_lock<std::mutex> &hold);
    std::optional<DWORD> DriveRead(uint64_t limit, std::unique_lock<std::mutex> &hold);
    std::optional<DWORD> DriveWrite(uint64_t limit, std::unique_lock<std::mutex> &hold);
    void DiscardQueued(DWORD queued);
    bool DsrHoldsOutput() const;
    // Waits for fd events for at most waitMs; 0 or poll's errno.
    // `revents` 0 when the time passed or a signal came; `woken` when a
    // cancel wants the port.
    int PollFor(short events, uint64_t waitMs, short &revents, bool &woken);
    void GiveWayToCancels(std::unique_lock<std::mutex> &hold);

    const int fd_;
    const int wake_;
    const std::optional<termios> settingsAtOpen_;
    const int remembered_;  // the port's entry for the ways out, or -1

    std::mutex settings_;
    COMMTIMEOUTS timeouts_{};  // all 0 until set: reads wait for `count` bytes

    std::mutex io_;
    std::condition_variable cancelsDone_;
    std::atomic<int> cancels_{0};  // cancels waiting for or holding io_
    std::optional<ReadRequest> read_;
    std::optional<WriteRequest> write_;
};

// An ioctl the device does not implement: a pty has no modem lines, and
// Windows' drivers for virtual ports accept such settings and do nothing.
inline bool NotImplemented(int error)
{
    return error == ENOTTY || error == EINVAL;
}

// The terminal behind `handle` for a comm call, or null with the last error
// set: ERROR_INVALID_HANDLE, or ERROR_INVALID_FUNCTION for a handle that is
// no terminal (what Windows' drivers answer for a non-serial device; a
// read or a write on one is refused the same way when it starts).
std::shared_ptr<CommPort> ReferenceTerminal(HANDLE handle);
