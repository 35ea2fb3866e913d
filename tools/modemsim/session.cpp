#include "session.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "escapes.h"
#include "retry_on_interrupt.h"

volatile sig_atomic_t stopRequested = 0;

namespace {

const int kPollSliceMs = 100;
const int kDrainLimitMs = 3000;
const int kAfterDrainMs = 100;

void Note(const std::string &text)
{
    fprintf(stderr, "modemsim: %s\n", text.c_str());
}

}  // namespace

Session::Session(ModemLine &line, const SessionOptions &options)
    : line_(line), options_(options), lastActivity_(Clock::now()), parent_(getppid())
{
    // In a script the wire carries only what the script says.
    state_.echo = options.scripted ? false : options.echo;
}

bool Session::ShouldStop()
{
    if (stopRequested)
        return true;
    if (getppid() != parent_) {
        Note("parent gone, exiting");
        return true;
    }
    auto idle = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - lastActivity_);
    if (options_.idleExitSeconds > 0 && idle.count() >= options_.idleExitSeconds) {
        Note("idle for " + std::to_string(idle.count()) + " s, exiting");
        return true;
    }
    return false;
}

void Session::Take(const char *bytes, size_t count)
{
    if (options_.logFd >= 0 && write(options_.logFd, bytes, count) < 0)
        Note(std::string("log write failed: ") + strerror(errno));
    for (size_t i = 0; i < count; ++i) {
        char c = bytes[i];
        if (c == '\n' && partial_.empty())
            continue;  // the line feed of "\r\n"
        if (c != '\r' && c != '\n') {
            partial_ += c;
            continue;
        }
        if (options_.scripted && state_.echo)
            Send(partial_ + "\r");
        lines_.push_back(partial_);
        partial_.clear();
    }
}

// Reads whatever the program has written so far; false once the master is gone.
bool Session::ReadAvailable()
{
    char buffer[512];
    for (;;) {
        ssize_t count = RetryOnInterrupt([&] { return read(line_.Fd(), buffer, sizeof buffer); });
        if (count > 0) {
            lastActivity_ = Clock::now();
            Take(buffer, static_cast<size_t>(count));
            continue;
        }
        // EAGAIN: drained. EIO: no slave open right now (Linux), which
        // passes when the program opens it.
        return true;
    }
}

// Waits up to `milliseconds` for input and takes it; false when the
// session has to end.
bool Session::Pump(int milliseconds)
{
    if (ShouldStop())
        return false;
    pollfd entry{line_.Fd(), POLLIN, 0};
    int ready = poll(&entry, 1, milliseconds);
    if (ready < 0)
        return errno == EINTR ? !stopRequested : false;
    if (ready > 0 && (entry.revents & POLLIN))
        return ReadAvailable();
    if (ready > 0) {
        // POLLHUP without data while nobody has the slave open: do not spin.
        usleep(static_cast<useconds_t>(milliseconds) * 1000);
    }
    return true;
}

bool Session::PumpFor(int milliseconds)
{
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return !ShouldStop();
        if (!Pump(static_cast<int>(std::min<long long>(left, kPollSliceMs))))
            return false;
    }
}

bool Session::Send(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = RetryOnInterrupt([&] { return write(line_.Fd(), bytes.data() + done, bytes.size() - done); });
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN) {
            Note(std::string("write failed: ") + strerror(errno));
            return false;
        }
        pollfd entry{line_.Fd(), POLLOUT, 0};
        poll(&entry, 1, kPollSliceMs);
        if (ShouldStop())
            return false;
    }
    lastActivity_ = Clock::now();
    return true;
}

bool Session::Flood(const std::string &pattern, size_t total)
{
    std::string block;
    while (block.size() < 65536)
        block += pattern;
    for (size_t sent = 0; sent < total; sent += block.size()) {
        if (!Send(block.substr(0, std::min(block.size(), total - sent))))
            return false;
    }
    return true;
}

bool Session::WaitForLine(std::string &line)
{
    while (lines_.empty()) {
        if (!Pump(kPollSliceMs))
            return false;
    }
    line = lines_.front();
    lines_.pop_front();
    return true;
}

// Gives the program the chance to read everything sent before the pty
// goes away: a hang-up discards what the slave has not read yet.
void Session::Drain()
{
    for (int waited = 0; line_.Pending() > 0 && waited < kDrainLimitMs; waited += 10) {
        if (!Pump(10))
            return;
    }
    PumpFor(kAfterDrainMs);
}

bool Session::RunStep(const Step &step, bool &finished)
{
    switch (step.kind) {
    case StepKind::Expect:
        for (;;) {
            std::string line;
            if (!WaitForLine(line))
                return false;
            if (step.text == "*" || line == step.text) {
                lastLine_ = line;
                return true;
            }
            Note("line " + std::to_string(step.lineNumber) + ": skipping '" + Escape(line) + "'");
        }
    case StepKind::Send:
        return Send(step.text);
    case StepKind::Flood:
        return Flood(step.text, static_cast<size_t>(step.number));
    case StepKind::Pause:
        return PumpFor(static_cast<int>(step.number));
    case StepKind::Drain:
        Drain();
        return !ShouldStop();
    case StepKind::Echo:
        state_.echo = step.number != 0;
        return true;
    case StepKind::Answer:
        return Send(BuiltInAnswer(lastLine_, state_));
    case StepKind::Silence:
        while (Pump(1000))
            lines_.clear();
        return false;
    case StepKind::Deaf:
        while (!ShouldStop())
            usleep(kPollSliceMs * 1000);
        return false;
    case StepKind::HangUp:
        Drain();
        line_.HangUp();
        finished = true;
        return true;
    case StepKind::Exit:
        Drain();
        finished = true;
        return true;
    }
    return false;
}

int Session::RunScript()
{
    for (const Step &step : options_.script) {
        bool finished = false;
        if (!RunStep(step, finished) || finished)
            return 0;
    }
    if (options_.once) {
        Drain();
        return 0;
    }
    state_.echo = options_.echo;
    options_.scripted = false;
    return ServeBuiltIn();
}

int Session::ServeBuiltIn()
{
    for (;;) {
        std::string line;
        if (!WaitForLine(line))
            return 0;
        // A modem echoes ATE0 itself, not ATE1 when echo was off.
        bool echoing = state_.echo;
        std::string answer = BuiltInAnswer(line, state_);
        if (answer.empty())
            continue;
        std::string echo = echoing ? line + "\r" : "";
        if (!Send(echo + answer))
            return 0;
        if (options_.once) {
            Drain();
            return 0;
        }
    }
}

int Session::Run()
{
    return options_.scripted ? RunScript() : ServeBuiltIn();
}
