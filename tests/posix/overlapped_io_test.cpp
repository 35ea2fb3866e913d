// Overlapped completion on a pty: pending, partial waits, cancel, close,
// hang-up and writes.
#include <cerrno>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

#include "port_fixtures.h"

namespace {

// A port whose reads wait for the full count: only data, cancel or a
// hang-up end them.
class CountOnlyPort : public testing::Test {
protected:
    PtyPair pty;
    OpenPort port{pty.SlaveName(), 0, 0};
    Request read;
};

TEST_F(CountOnlyPort, ReadIsPendingUntilDriven)
{
    ASSERT_FALSE(read.StartRead(port.get()));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(read.ov.Internal, STATUS_PENDING);
    DWORD n = 99;
    EXPECT_FALSE(GetOverlappedResult(port.get(), &read.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    Request second;
    EXPECT_FALSE(second.StartRead(port.get()));
    EXPECT_NE(GetLastError(), ERROR_IO_PENDING);
}

TEST_F(CountOnlyPort, ShortWaitLeavesReadPendingAndALaterWaitCompletesIt)
{
    read.StartRead(port.get(), 3);
    EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, 50), WAIT_TIMEOUT);
    pty.Send("ab");
    EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, 50), WAIT_TIMEOUT);
    pty.Send("c");
    EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, INFINITE), WAIT_OBJECT_0);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_EQ(read.Text(n), "abc");
}

TEST_F(CountOnlyPort, CancelKeepsTheBytesSoFar)
{
    for (std::string sent : {"", "ab"}) {
        read.StartRead(port.get());
        if (!sent.empty())
            pty.Send(sent);
        EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, 200), WAIT_TIMEOUT);
        EXPECT_TRUE(CancelIo(port.get()));
        EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, 0), WAIT_OBJECT_0);
        DWORD n = 99;
        EXPECT_FALSE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
        EXPECT_EQ(read.Text(n), sent);
    }
}

// The 2 s total only bounds a stand-in that misses the hang-up.
TEST(HangUp, EndsTheReadPromptlyWithoutSpinning)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName(), 0, 2000);
    Request read;
    read.StartRead(port.get());
    Feeder feeder(pty, {{50, "ab"}, {150, ""}});
    DWORD start = GetTickCount();
    clock_t cpuStart = clock();
    DWORD n = 0;
    // As on Windows and Wine, the bytes that came before the hang-up are
    // delivered, not lost to a failure.
    EXPECT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_EQ(read.Text(n), "ab");
    EXPECT_LT(ElapsedMs(start), 1200);
    EXPECT_LT(clock() - cpuStart, CLOCKS_PER_SEC / 10);
    // The next read reports the hang-up at once instead of zero bytes.
    read.StartRead(port.get());
    EXPECT_FALSE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EIO));
    EXPECT_EQ(n, 0u);
    EXPECT_LT(ElapsedMs(start), 1200);
}

// Who waits while the port and its read's event are closed: nobody; another
// thread on the read's event (driving the port, in poll); another thread on
// an event of its own (the answer writer while the transaction ends). Each
// closing lands at another point of the wait, round after round.
enum class Waiter { None, OnTheRead, OnItsOwnEvent };

class PortClose : public testing::TestWithParam<Waiter> {};

// The pending read is aborted and its event set; a wait on another thread
// ends as on Windows (signalled, or refused when its handle was already
// gone), never on a freed object and never only at its time limit.
TEST_P(PortClose, AbortsThePendingReadAndEndsWaitsOnIt)
{
    PtyPair pty;
    const Waiter waiter = GetParam();
    for (int round = 0; round < (waiter == Waiter::None ? 1 : 100); ++round) {
        HANDLE port = CreateFileA(pty.SlaveName(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, NULL);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        Request read;
        HANDLE own = CreateEventA(NULL, FALSE, FALSE, NULL);
        read.StartRead(port);  // the time-outs are all 0: only the close ends it
        HANDLE awaited = waiter == Waiter::OnTheRead ? read.ov.hEvent : own;
        DWORD waited = WAIT_OBJECT_0, error = 0;
        std::thread other;
        if (waiter != Waiter::None)
            other = std::thread([&] {
                waited = WaitForSingleObject(awaited, 5000);
                error = GetLastError();
            });
        std::this_thread::sleep_for(std::chrono::microseconds(round % 5 * 400));
        CloseHandle(port);
        if (waiter == Waiter::None) {
            EXPECT_EQ(read.ov.Internal, ERROR_OPERATION_ABORTED);
            EXPECT_EQ(WaitForSingleObject(read.ov.hEvent, 0), WAIT_OBJECT_0);
        }
        CloseHandle(read.ov.hEvent);
        read.ov.hEvent = NULL;
        SetEvent(own);
        if (other.joinable())
            other.join();
        CloseHandle(own);
        EXPECT_TRUE(waited == WAIT_OBJECT_0 || (waited == WAIT_FAILED && error == ERROR_INVALID_HANDLE))
            << "round " << round << ": " << waited;
    }
}

std::string WaiterName(const testing::TestParamInfo<Waiter> &info)
{
    static const char *const kNames[] = {"NobodyWaits", "WaitOnTheRead", "WaitOnItsOwnEvent"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Close, PortClose, testing::Values(Waiter::None, Waiter::OnTheRead, Waiter::OnItsOwnEvent),
                         WaiterName);

TEST(Write, CompletesWithAllBytes)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    DWORD n = 99;
    for (std::string text : {"AT\r\n", ""}) {
        ASSERT_FALSE(WriteFile(port.get(), text.data(), static_cast<DWORD>(text.size()), &n, &ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_TRUE(GetOverlappedResult(port.get(), &ov, &n, TRUE));
        EXPECT_EQ(n, text.size());
        // The wait inside GetOverlappedResult took the auto-reset signal.
        EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_TIMEOUT);
    }
    char got[8] = {};
    EXPECT_EQ(read(pty.Master(), got, sizeof got), 4);
    EXPECT_STREQ(got, "AT\r\n");
    pty.HangUp();
    WriteFile(port.get(), "AT", 2, &n, &ov);
    EXPECT_FALSE(GetOverlappedResult(port.get(), &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EIO));
    CloseHandle(ov.hEvent);
}

// A device that takes no more bytes (here a pty whose other side never
// reads): the write ends at its total time-out with the bytes that left,
// a success with a short count, and the close does not wait.
TEST(Write, DeviceThatTakesNothingEndsAtTheTimeout)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    COMMTIMEOUTS timeouts{100, 0, 500, 0, 300};
    SetCommTimeouts(port.get(), &timeouts);
    std::string command(256 * 1024, 'A');
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    DWORD n = 0;
    DWORD start = GetTickCount();
    WriteFile(port.get(), command.data(), static_cast<DWORD>(command.size()), &n, &ov);
    EXPECT_TRUE(GetOverlappedResult(port.get(), &ov, &n, TRUE));
    EXPECT_GE(ElapsedMs(start), 280);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, command.size());
    CloseHandle(ov.hEvent);
}

// Another program that reads the device may take the bytes a wake-up was
// for: that is no hang-up, and the read goes on.
TEST(HangUp, BytesTakenByAnotherReaderAreNoHangUp)
{
    PtyPair pty;
    int thief = open(pty.SlaveName(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(thief, 0);
    OpenPort port(pty.SlaveName());
    Request read;
    read.StartRead(port.get());
    std::thread stealOne([thief] {
        char byte;
        (void)!::read(thief, &byte, 1);
    });
    DWORD n = 0;
    {
        Feeder feeder(pty, {{50, "a"}, {200, "b"}});
        EXPECT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE)) << GetLastError();
        EXPECT_GE(n, 1u);
    }
    pty.HangUp();  // frees the thief if we had both bytes
    stealOne.join();
    close(thief);
}

}  // namespace
