// Events, waits without I/O, threads, the tick count, debug output and
// standard output.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "fd_guard.h"
#include "redirected.h"
#include "win32_subset.h"

namespace {

TEST(Events, ManualStaysSignalledAutoIsTakenByAWait)
{
    HANDLE manual = CreateEventA(NULL, TRUE, TRUE, NULL);
    HANDLE automatic = CreateEventA(NULL, FALSE, TRUE, NULL);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Events, WaitWithoutIoSleepsOrRefusesToHang)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 55u);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EDEADLK));
    CloseHandle(event);
}

DWORD WINAPI SetLater(LPVOID event)
{
    Sleep(50);
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // its owner may enter again
    SetEvent(static_cast<HANDLE>(event));
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
    return 0;
}

// With another thread running, an infinite wait is no dead end: the event
// that thread sets ends it.
TEST(Events, SetByAnotherThreadEndsTheWait)
{
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, SetLater, event, 0, NULL);
    ASSERT_NE(thread, (HANDLE)NULL);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(event);
}

// A redirected standard output takes every byte; one whose reader is gone
// fails the write (EPIPE), and the process lives on.
TEST(StandardOutput, WritesEverythingOrFailsWhenTheReaderIsGone)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(output, (HANDLE)NULL);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FdGuard reader(ends[0]), writer(ends[1]);
    {
        Redirected redirected(STDOUT_FILENO, writer.get());
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(output, "AT\r\r\nOK\r\n", 9, &written, NULL));
        EXPECT_EQ(written, 9u);
        char got[16] = {};
        EXPECT_EQ(read(reader.get(), got, sizeof got), 9);
        reader.Reset();
        EXPECT_FALSE(WriteFile(output, "lost", 4, &written, NULL));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EPIPE));
    }
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), output);
}

// Texts traced back to back, on standard error (a file of each row's own:
// the stand-in follows it there) once the thread that traced them waits:
// each whole, unchanged, in order.
struct TracedTexts {
    const char *name;
    std::vector<std::string> texts;
};

class DebugOutputTexts : public testing::TestWithParam<TracedTexts> {};

TEST_P(DebugOutputTexts, GoOutWholeInOrderBeforeAWait)
{
    FdGuard file(fileno(tmpfile()));
    std::string expected;
    {
        Redirected redirected(STDERR_FILENO, file.get());
        for (const std::string &text : GetParam().texts) {
            OutputDebugStringA(text.c_str());
            expected += text;
        }
        Sleep(1);
    }
    std::string written(expected.size() + 1, '\0');
    ssize_t size = pread(file.get(), &written[0], written.size(), 0);
    written.resize(size < 0 ? 0 : static_cast<size_t>(size));
    EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(
    DebugOutput, DebugOutputTexts,
    testing::Values(TracedTexts{"AsTheyAre", {"read buffer[4]: OK\r\n", "no line end", ""}},
                    TracedTexts{"PastWhatOneWriteKeepsWhole", {std::string(3000, 'a'), std::string(3000, 'b')}},
                    TracedTexts{"LongerThanOneWriteKeepsWhole", {"before\n", std::string(10000, 'c'), "after\n"}}),
    [](const testing::TestParamInfo<TracedTexts> &info) { return std::string(info.param.name); });

// Texts still gathered when the process ends go out on every way out.
struct WayOut {
    const char *name;
    std::function<void()> leave;
    std::function<bool(int)> ended;
};

class DebugOutputWayOutDeathTest : public testing::TestWithParam<WayOut> {};

TEST_P(DebugOutputWayOutDeathTest, WritesTheGatheredTexts)
{
    EXPECT_EXIT(
        {
            OutputDebugStringA("gathered ");
            OutputDebugStringA("at the end\n");
            GetParam().leave();
        },
        GetParam().ended, "gathered at the end");
}

INSTANTIATE_TEST_SUITE_P(
    DebugOutput, DebugOutputWayOutDeathTest,
    testing::Values(WayOut{"Exit", [] { exit(3); }, testing::ExitedWithCode(3)},
                    WayOut{"ExitProcess", [] { ExitProcess(4); }, testing::ExitedWithCode(4)},
                    WayOut{"StopSignal", [] { raise(SIGTERM); }, testing::KilledBySignal(SIGTERM)}),
    [](const testing::TestParamInfo<WayOut> &info) { return std::string(info.param.name); });

// A process started without standard error has none: the file that later
// takes fd 2 (here a socket, in the program a port) gets no text.
TEST(DebugOutputDeathTest, StandardErrorClosedAtTheFirstTextStaysClosed)
{
    EXPECT_EXIT(
        {
            close(STDERR_FILENO);
            OutputDebugStringA("nobody listens\n");
            int ends[2];
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0 || ends[0] != STDERR_FILENO)
                exit(2);
            OutputDebugStringA("not for this file\n");
            Sleep(1);
            char byte;
            exit(recv(ends[1], &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Debug output nobody takes is dropped: a pipe or a socket (a service's
// journal) on standard error whose reader is gone neither kills (SIGPIPE)
// nor stops the run, and one whose reader stopped reading never holds it;
// the file's own flags stay blocking, as the shell that shares it set them.
enum class Reader { Gone, Stalled };

struct NobodyTakes {
    const char *name;
    bool socket;
    Reader reader;
};

class DebugOutputNobodyTakes : public testing::TestWithParam<NobodyTakes> {};

TEST_P(DebugOutputNobodyTakes, IsDroppedWithoutWaiting)
{
    int ends[2];
    ASSERT_EQ(GetParam().socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends), 0);
    FdGuard reader(ends[0]), writer(ends[1]);
    if (GetParam().reader == Reader::Gone) {
        reader.Reset();
    } else {
        // Filled without blocking, then made blocking again, as a shell's pipe is.
        fcntl(writer.get(), F_SETFL, O_NONBLOCK);
        while (write(writer.get(), "full", 4) == 4) {
        }
        fcntl(writer.get(), F_SETFL, 0);
    }
    Redirected redirected(STDERR_FILENO, writer.get());
    OutputDebugStringA("nobody listens\n");
    OutputDebugStringA("nobody listens either\n");
    Sleep(1);  // they go out before the wait
    EXPECT_EQ(fcntl(writer.get(), F_GETFL) & O_NONBLOCK, 0);
}

INSTANTIATE_TEST_SUITE_P(DebugOutput, DebugOutputNobodyTakes,
                         testing::Values(NobodyTakes{"PipeReaderGone", false, Reader::Gone},
                                         NobodyTakes{"PipeReaderStalled", false, Reader::Stalled},
                                         NobodyTakes{"SocketReaderGone", true, Reader::Gone},
                                         NobodyTakes{"SocketReaderStalled", true, Reader::Stalled}),
                         [](const testing::TestParamInfo<NobodyTakes> &info) { return std::string(info.param.name); });

}  // namespace
