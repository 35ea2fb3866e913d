// Every port tried at once, on pseudo-terminals through the stand-in: each
// transaction on its own thread, the verdicts in the ports' order, and a
// port that must not be tried never sent a byte.
#include "port_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <vector>

#include "debug_output.h"
#include "fd_guard.h"
#include "port_fixtures.h"
#include "pty_pair.h"
#include "redirected.h"

namespace {

// A modem that answers "AT\r\n" with OK, on its own thread.
class Answering {
public:
    explicit Answering(PtyPair &pty)
        : thread_([&pty](const std::atomic<bool> &stop) {
              std::string heard;
              while (!stop) {
                  pollfd entry{pty.Master(), POLLIN, 0};
                  char bytes[64];
                  ssize_t got = poll(&entry, 1, 20) == 1 ? read(pty.Master(), bytes, sizeof bytes) : 0;
                  heard.append(bytes, got > 0 ? static_cast<size_t>(got) : 0);
                  if (heard.find("AT\r\n") != std::string::npos) {
                      pty.Send("AT\r\r\nOK\r\n");
                      heard.clear();
                  }
              }
          })
    {
    }

private:
    StoppableThread thread_;
};

bool MasterHasBytes(const PtyPair &pty)
{
    pollfd entry{pty.Master(), POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

TEST(ProbePorts, EachPortItsOwnVerdictOnItsOwnThread)
{
    PtyPair answering, silent, held, console;
    for (PtyPair *pty : {&answering, &silent, &held, &console})
        ASSERT_TRUE(pty->HoldSlave()) << pty->Error();
    Answering modem(answering);
    // Another program's exclusive hold, as a second atcmd takes it.
    FdGuard holder(open(held.SlaveName(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_EQ(flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    const std::vector<SystemSerialPort> ports = {
        {answering.SlaveName(), "", "", true},
        {silent.SlaveName(), "", "", true},
        {held.SlaveName(), "", "", true},
        {console.SlaveName(), "", "", false},
        {"/dev/atcmd-no-such-port", "", "", true},
    };
    const DWORD kTimeout = 600;

    FdGuard traces(fileno(tmpfile()));
    ProbeOutcome outcome;
    {
        Redirected redirected(STDERR_FILENO, traces.get());
        outcome = ProbePorts(ports, "AT\r\n", "OK", kTimeout, Deadline(GetTickCount(), ProbeBoundMs(kTimeout)));
        WriteGatheredTexts();
    }

    const std::vector<AtResult> expected = {kAtSuccess, kAtTimeout, kAtFailure, kAtUndecided, kAtFailure};
    EXPECT_EQ(outcome.verdicts, expected);
    EXPECT_FALSE(outcome.overran);  // the silent port's -2 is its own time limit's
    EXPECT_FALSE(MasterHasBytes(console));
    std::string texts(1 << 16, '\0');
    texts.resize(static_cast<size_t>(std::max<ssize_t>(0, pread(traces.get(), &texts[0], texts.size(), 0))));
    for (const std::string &named : {std::string(answering.SlaveName()) + ": SerialAtCommand() return 1\n",
                                     std::string(silent.SlaveName()) + ": read timeouts\n",
                                     std::string(held.SlaveName()) + ": can not open " + held.SlaveName()})
        EXPECT_NE(texts.find(named), std::string::npos) << named << " in\n" << texts;
    EXPECT_EQ(texts.find(console.SlaveName()), std::string::npos) << texts;
}

// A transaction still running at the bound counts as the time limit's, and
// the run is told so that it ends the process, not the transaction.
TEST(ProbePorts, PastTheBoundIsTheTimeLimits)
{
    PtyPair silent;
    ASSERT_TRUE(silent.HoldSlave()) << silent.Error();
    const DWORD kTimeout = 400;
    FdGuard traces(fileno(tmpfile()));
    ProbeOutcome outcome;
    {
        Redirected redirected(STDERR_FILENO, traces.get());
        outcome = ProbePorts({{silent.SlaveName(), "", "", true}}, "AT\r\n", "OK", kTimeout,
                             Deadline(GetTickCount(), kTimeout / 4));
        Sleep(kTimeout + kProbeGraceMs);  // its transaction ends meanwhile, and lets go of the pty
        WriteGatheredTexts();
    }
    EXPECT_EQ(outcome.verdicts, std::vector<AtResult>{kAtTimeout});
    EXPECT_TRUE(outcome.overran);
}

struct BoundRow {
    DWORD timeout;
    DWORD bound;
};

TEST(ProbeBoundMs, WriteLimitPlusTimeoutPlusGrace)
{
    const BoundRow rows[] = {
        {1000, 1000 + kWriteTotalTimeoutMs + kProbeGraceMs},
        {0, 0},  // no limit: no bound
        {MAXDWORD - kWriteTotalTimeoutMs - kProbeGraceMs, MAXDWORD},
        {MAXDWORD - kWriteTotalTimeoutMs - kProbeGraceMs + 1, 0},  // /timeout -1: 49.7 days, no bound past it
    };
    for (const BoundRow &row : rows)
        EXPECT_EQ(ProbeBoundMs(row.timeout), row.bound) << row.timeout;
}

}  // namespace
