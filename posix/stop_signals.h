// The signals that stop the process when a user or a service manager asks:
// on them the stand-in puts every port back and writes the gathered traces
// before the process ends (process_setup.cpp).
#pragma once

#include <csignal>
#include <pthread.h>

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The stop signals, blocked on this thread while it lives: a thread that
// claims a port's entry for the ways out, fills it in or releases it is
// never stopped in between. Async-signal-safe.
class StopSignalsHeld {
public:
    StopSignalsHeld()
    {
        sigset_t stops;
        sigemptyset(&stops);
        for (int signalNumber : kStopSignals)
            sigaddset(&stops, signalNumber);
        pthread_sigmask(SIG_BLOCK, &stops, &mask_);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &mask_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld &) = delete;
    StopSignalsHeld &operator=(const StopSignalsHeld &) = delete;

private:
    sigset_t mask_;
};
