// Events, waits without I/O, threads, the tick count, debug output and
// standard output.
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "captured_stderr.h"
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

TEST(DebugOutput, WritesTheTextUnchanged)
{
    CaptureTraces();
    OutputDebugStringA("read buffer[4]: OK\r\n");
    OutputDebugStringA("no line end");
    OutputDebugStringA("");
    EXPECT_EQ(CapturedTraces(), "read buffer[4]: OK\r\nno line end");
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
    EXPECT_EQ(fcntl(writer.get(), F_GETFL) & O_NONBLOCK, 0);
}

INSTANTIATE_TEST_SUITE_P(DebugOutput, DebugOutputNobodyTakes,
                         testing::Values(NobodyTakes{"PipeReaderGone", false, Reader::Gone},
                                         NobodyTakes{"PipeReaderStalled", false, Reader::Stalled},
                                         NobodyTakes{"SocketReaderGone", true, Reader::Gone},
                                         NobodyTakes{"SocketReaderStalled", true, Reader::Stalled}),
                         [](const testing::TestParamInfo<NobodyTakes> &info) { return std::string(info.param.name); });

}  // namespace
