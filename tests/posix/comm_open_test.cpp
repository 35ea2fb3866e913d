// Opening comm ports: exclusive like Windows, clear failures, line
// settings, and no fd left behind on any path.
#include <cerrno>
#include <cstdio>
#include <vector>
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

TEST(CommPurge, DiscardsInputWaitingBeforeIt)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    pty.Send("\r\nOK\r\n");
    DWORD errors = 0;
    COMSTAT status{};
    for (DWORD start = GetTickCount(); status.cbInQue < 6 && GetTickCount() - start < 2000; Sleep(10))
        ClearCommError(port.get(), &errors, &status);
    ASSERT_EQ(status.cbInQue, 6u);
    EXPECT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR));
    ClearCommError(port.get(), &errors, &status);
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port.get(), PURGE_RXABORT));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
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

TEST(CommState, RoundTripsTheProgramsSettings)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb - 1;
    EXPECT_FALSE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    dcb.BaudRate = 9600;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    EXPECT_TRUE(SetCommState(port.get(), &dcb));  // a pty has no modem lines: accepted
    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(port.get(), &back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_TRUE(back.fOutxCtsFlow);
    dcb.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port.get(), &dcb));
    EXPECT_TRUE(ClearCommBreak(port.get()));
    pty.Send("xyz");
    DWORD errors = 1;
    COMSTAT status{};
    // The pty hands the bytes to the slave side asynchronously.
    for (DWORD start = GetTickCount(); status.cbInQue < 3 && GetTickCount() - start < 2000; Sleep(10))
        EXPECT_TRUE(ClearCommError(port.get(), &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 3u);
}

struct FrameCase {
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
    bool accepted;
};

// Frames termios can express are taken, others refused. (A pty itself
// keeps 8 data bits without parity, so what it reads back says nothing.)
TEST(CommState, FramesTermiosCannotExpressAreRefused)
{
    const FrameCase cases[] = {
        {5, NOPARITY, ONE5STOPBITS, true}, {6, ODDPARITY, ONESTOPBIT, true},
        {7, EVENPARITY, TWOSTOPBITS, true}, {8, 3, ONESTOPBIT, false},  // mark parity
        {8, NOPARITY, ONE5STOPBITS, false}, {4, NOPARITY, ONESTOPBIT, false},
    };
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    for (const FrameCase &c : cases) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        dcb.ByteSize = c.byteSize;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stopBits;
        SetLastError(0);
        EXPECT_EQ(SetCommState(port.get(), &dcb), c.accepted) << int(c.byteSize) << int(c.parity);
        EXPECT_EQ(GetLastError(), c.accepted ? 0u : ERROR_INVALID_PARAMETER) << int(c.byteSize) << int(c.parity);
    }
    EXPECT_FALSE(SetCommState(port.get(), nullptr));
    EXPECT_FALSE(SetCommTimeouts(port.get(), nullptr));
}

struct StaleHandleCase {
    const char *name;
    int madeAfterClose;  // events created once the handle is closed
};

TEST(Handles, UnknownOrClosedAreRefused)
{
    // A later object may land where the closed one lived: its handle must
    // not bring the closed one back.
    const StaleHandleCase cases[] = {{"closed", 0}, {"closed, then a new event made", 1}};
    for (const StaleHandleCase &c : cases) {
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        EXPECT_TRUE(CloseHandle(event)) << c.name;
        std::vector<HANDLE> later;
        for (int i = 0; i < c.madeAfterClose; ++i)
            later.push_back(CreateEventA(NULL, TRUE, FALSE, NULL));
        EXPECT_FALSE(CloseHandle(event)) << c.name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << c.name;
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED) << c.name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << c.name;
        for (HANDLE handle : later)
            EXPECT_TRUE(CloseHandle(handle)) << c.name;
    }
    EXPECT_FALSE(CancelIo(INVALID_HANDLE_VALUE));
}

}  // namespace
