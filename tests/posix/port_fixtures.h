// What the stand-in's tests drive a pseudo-terminal with: the test holds the
// master (PtyPair), the code under test opens the slave by name through
// CreateFileA.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "handle_guard.h"
#include "pty_pair.h"
#include "win32_subset.h"

// A thread that runs `body(stop)` until `stop` is set, which its end of
// scope does before joining it.
class StoppableThread {
public:
    template <class Body>
    explicit StoppableThread(Body body) : thread_([this, body] { body(stop_); })
    {
    }
    ~StoppableThread()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};  // before thread_: set up before the thread starts
    std::thread thread_;
};

// Plays (delay ms from start, text) steps into the master on its own
// thread; an empty text closes the master (a hang-up).
class Feeder {
public:
    Feeder(PtyPair &pty, std::vector<std::pair<int, std::string>> steps)
        : thread_([&pty, steps](const std::atomic<bool> &stop) {
              auto start = std::chrono::steady_clock::now();
              for (const auto &step : steps) {
                  std::this_thread::sleep_until(start + std::chrono::milliseconds(step.first));
                  if (stop)
                      return;
                  if (step.second.empty())
                      pty.HangUp();
                  else
                      pty.Send(step.second);
              }
          })
    {
    }

private:
    StoppableThread thread_;
};

// Opens the slave as the program does, closing it at scope end.
class OpenPort {
public:
    explicit OpenPort(const char *name, DWORD interval = 100, DWORD constant = 500)
        : handle_(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL))
    {
        COMMTIMEOUTS timeouts{interval, 0, constant, 0, 5000};
        if (get() != INVALID_HANDLE_VALUE)
            SetCommTimeouts(get(), &timeouts);
    }

    HANDLE get() const { return handle_.get(); }

private:
    HandleGuard handle_;
};

// One overlapped request's control block, buffer and manual-reset event.
struct Request {
    Request() { ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL); }
    ~Request() { CloseHandle(ov.hEvent); }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    BOOL StartRead(HANDLE port, DWORD count = 127) { return ReadFile(port, buffer, count, NULL, &ov); }
    std::string Text(DWORD n) const { return std::string(buffer, n); }

    OVERLAPPED ov{};
    char buffer[256] = {};
};

inline long ElapsedMs(DWORD startTick)
{
    return static_cast<long>(GetTickCount() - startTick);
}
