// The fake modem's event loop: reads commands from its end of the line, answers
// them from the built-in table or a script, records what it received.
#pragma once

#include <chrono>
#include <csignal>
#include <deque>
#include <string>
#include <vector>

#include "answers.h"
#include "modem_line.h"
#include "script.h"

struct SessionOptions {
    bool scripted = false;
    std::vector<Step> script;
    bool once = false;
    bool echo = true;
    int idleExitSeconds = 120;
    int logFd = -1;
};

// Set by the signal handlers; the loop ends at its next check.
extern volatile sig_atomic_t stopRequested;

class Session {
public:
    Session(ModemLine &line, const SessionOptions &options);

    // Serves until the script, --once, a signal, idleness or the parent's
    // death ends it. Returns the process exit status.
    int Run();

private:
    using Clock = std::chrono::steady_clock;

    bool Pump(int milliseconds);
    bool PumpFor(int milliseconds);
    bool ReadAvailable();
    void Take(const char *bytes, size_t count);
    bool Send(const std::string &bytes);
    bool Flood(const std::string &pattern, size_t total);
    bool WaitForLine(std::string &line);
    void Drain();
    bool RunStep(const Step &step, bool &finished);
    int RunScript();
    int ServeBuiltIn();
    bool ShouldStop();

    ModemLine &line_;
    SessionOptions options_;
    ModemState state_;
    std::string partial_;
    std::deque<std::string> lines_;
    std::string lastLine_;
    Clock::time_point lastActivity_;
    pid_t parent_;
};
