#include "port_probe.h"

#include <atomic>
#include <memory>
#include <string>

#include "handle_guard.h"
#include "serial_transport.h"
#include "trace.h"

namespace {

// One port's transaction, shared by its thread and the waiting one: it
// lives until both let go, so a thread that outlives the wait still has it.
struct Probe {
    Probe(const std::string &port, const char *command, const char *response, DWORD limit)
        : portName(port), cmd(command), resp(response), timeout(limit), done(CreateEventA(NULL, TRUE, FALSE, NULL))
    {
        FATAL_CHECK(done.get() != NULL);
    }

    std::string portName;
    std::string cmd;
    std::string resp;
    DWORD timeout;
    HandleGuard done;  // set once the verdict is in
    std::atomic<AtResult> verdict{kAtUndecided};
};

DWORD WINAPI RunProbe(LPVOID parameter)
{
    std::unique_ptr<std::shared_ptr<Probe>> owned(static_cast<std::shared_ptr<Probe> *>(parameter));
    Probe &probe = **owned;
    {
        TracedPort traced(probe.portName.c_str());
        probe.verdict = SerialAtCommand(probe.portName.c_str(), probe.cmd.c_str(), probe.resp.c_str(), probe.timeout,
                                        AnswerSink::Nowhere);
        DebugTrace("SerialAtCommand() return %d\n", probe.verdict.load());
    }
    SetEvent(probe.done.get());
    return 0;
}

// Starts the transaction on its own thread; null (traced) when it could not.
std::shared_ptr<Probe> StartProbe(const std::string &portName, const char *cmd, const char *resp, DWORD timeout)
{
    auto probe = std::make_shared<Probe>(portName, cmd, resp, timeout);
    auto handOver = std::make_unique<std::shared_ptr<Probe>>(probe);
    HandleGuard thread(CreateThread(NULL, 0, RunProbe, handOver.get(), 0, NULL));
    if (thread.get() == NULL) {
        DebugTrace("can not start a thread for %s, error: %d\n", portName.c_str(), static_cast<int>(GetLastError()));
        return nullptr;
    }
    handOver.release();  // the thread's now
    return probe;
}

}  // namespace

DWORD ProbeBoundMs(DWORD timeout)
{
    const DWORD kFixed = kWriteTotalTimeoutMs + kProbeGraceMs;
    if (timeout == 0 || timeout > MAXDWORD - kFixed)
        return 0;
    return timeout + kFixed;
}

ProbeOutcome ProbePorts(const std::vector<SystemSerialPort> &ports, const char *cmd, const char *resp, DWORD timeout,
                        const Deadline &bound)
{
    std::vector<std::shared_ptr<Probe>> probes;
    ProbeOutcome outcome{std::vector<AtResult>(ports.size(), kAtUndecided), false};
    for (size_t i = 0; i < ports.size(); ++i) {
        probes.push_back(ports[i].mayProbe ? StartProbe(ports[i].name, cmd, resp, timeout) : nullptr);
        if (ports[i].mayProbe && probes.back() == nullptr)
            outcome.verdicts[i] = kAtFailure;
    }
    for (size_t i = 0; i < probes.size(); ++i) {
        if (probes[i] == nullptr)
            continue;
        DWORD waited = WaitForSingleObject(probes[i]->done.get(), bound.Remaining(GetTickCount()));
        if (waited == WAIT_OBJECT_0) {
            outcome.verdicts[i] = probes[i]->verdict.load();
            continue;
        }
        DebugTrace("%s: no verdict within the bound, wait return %d\n", ports[i].name.c_str(), static_cast<int>(waited));
        outcome.verdicts[i] = kAtTimeout;
        outcome.overran = true;
    }
    return outcome;
}
