// The stand-in's set-up of the process: one step, run once as the process
// starts, before main, as a Windows program's runtime sets up its process
// before main. No trace, port or write sets anything up on the side. It has
// no caller: the build keeps it in every program that links the stand-in
// (posix/CMakeLists.txt), and the loader runs it on the only thread there
// is, so no call can meet the process half set up.
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "bounded_close.h"
#include "debug_output.h"
#include "port_restore.h"
#include "stop_signals.h"

namespace {

// Writes the gathered traces, puts every remembered port back and closes
// it, then lets the signal end the process as it would have without us.
// When a thread is taking a text in or writing texts out at that moment,
// that thread raises the signal again as soon as it is done, and this
// runs again then, on it.
void OnStopSignal(int signalNumber)
{
    if (!WriteGatheredTextsOnSignal(signalNumber))
        return;
    ReleaseRememberedPorts();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered once this handler returns
}

// Every signal blocked while the handler runs: a second stop signal waits
// for the first one's way out.
void CatchStopSignals()
{
    for (int signalNumber : kStopSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;  // ignored by whoever started us (nohup): it stays so
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnStopSignal;
        sigfillset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

// In this order:
// - SIGPIPE ignored: a reader of standard output or error that is gone
//   fails the write (EPIPE), as on Windows, instead of ending the process;
// - the close's interrupting signal handled, before any port can open
//   (its default action would end the process);
// - the stop signals caught, once there is a close to put ports back with;
// - the exit hook: the gathered traces go out on exit. Run before every
//   static object is made (priority 101, the first a program may take),
//   it is registered first and so runs last, after every destructor that
//   may still trace.
extern "C" __attribute__((constructor(101))) void SetUpProcess()
{
    signal(SIGPIPE, SIG_IGN);
    PrepareBoundedClose();
    CatchStopSignals();
    atexit(WriteGatheredTexts);
}
