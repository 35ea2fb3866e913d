// Opening comm ports: exclusive like Windows, clear failures, and no fd
// left behind on any path.
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include "port_fixtures.h"

namespace {

int OpenFdCount()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count;
}

struct OpenFailureCase {
    const char *name;
    DWORD error;
};

TEST(CommOpen, FailsWithTheErrorNumber)
{
    const OpenFailureCase cases[] = {{"", ENOENT}, {"/dev/no-such-port", ENOENT}};
    for (const OpenFailureCase &c : cases) {
        OpenPort port(c.name);
        EXPECT_EQ(port.get(), INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

// As on Windows, what is no comm port opens, exclusively, and the comm
// calls fail on it with ERROR_INVALID_FUNCTION.
TEST(CommOpen, NonTerminalOpensAndCommCallsFail)
{
    char regularFile[] = "/tmp/posix_standin_XXXXXX";
    close(mkstemp(regularFile));
    for (const char *name : {"/dev/null", static_cast<const char *>(regularFile)}) {
        OpenPort port(name);
        ASSERT_NE(port.get(), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(OpenPort(name).get(), INVALID_HANDLE_VALUE) << name;
        COMMTIMEOUTS timeouts{100, 0, 500, 0, 5000};
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        DWORD errors = 0;
        COMSTAT status{};
        Request read;
        const std::pair<const char *, BOOL> calls[] = {
            {"SetCommTimeouts", SetCommTimeouts(port.get(), &timeouts)},
            {"GetCommState", GetCommState(port.get(), &dcb)},
            {"SetCommState", SetCommState(port.get(), &dcb)},
            {"ClearCommBreak", ClearCommBreak(port.get())},
            {"ClearCommError", ClearCommError(port.get(), &errors, &status)},
            {"PurgeComm", PurgeComm(port.get(), PURGE_RXCLEAR)},
            {"ReadFile", read.StartRead(port.get())},
        };
        for (const auto &call : calls) {
            EXPECT_FALSE(call.second) << name << ": " << call.first;
        }
        SetCommTimeouts(port.get(), &timeouts);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << name;
    }
    unlink(regularFile);
}

TEST(CommOpen, IsExclusive)
{
    PtyPair pty;
    {
        OpenPort first(pty.SlaveName());
        ASSERT_NE(first.get(), INVALID_HANDLE_VALUE);
        OpenPort second(pty.SlaveName());
        EXPECT_EQ(second.get(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBUSY));
    }
    // Another program holding the device's flock keeps us out as well.
    int other = open(pty.SlaveName(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_EQ(OpenPort(pty.SlaveName()).get(), INVALID_HANDLE_VALUE);
    close(other);
    EXPECT_NE(OpenPort(pty.SlaveName()).get(), INVALID_HANDLE_VALUE);
}

TEST(CommOpen, LeavesNoFdBehind)
{
    PtyPair pty;
    int before = OpenFdCount();
    for (int round = 0; round < 3; ++round) {
        OpenPort port(pty.SlaveName());
        OpenPort refused(pty.SlaveName());
        OpenPort missing("/dev/no-such-port");
        Request read;
        read.StartRead(port.get());
        WaitForSingleObject(read.ov.hEvent, 10);
        CancelIo(port.get());
        read.StartRead(port.get());  // still pending at the close
    }
    EXPECT_EQ(OpenFdCount(), before);
}

}  // namespace
