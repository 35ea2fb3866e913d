// The stand-in's error paths that a pseudo-terminal cannot be made to take,
// each with one system call made to fail: the Win32 call fails with the
// system's error number, and the port is left usable.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include "comm_port.h"
#include "fault_injection.h"
#include "port_restore.h"
#include "port_fixtures.h"

namespace {

// The settings the program asks for, with the given RTS control.
BOOL SetProgramState(HANDLE port, DWORD rtsControl)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return FALSE;
    dcb.BaudRate = 9600;
    dcb.fRtsControl = rtsControl;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    return SetCommState(port, &dcb);
}

struct OpenFaultCase {
    const char *name;
    SystemCall call;
    unsigned long request;
    int error;
};

TEST(CommOpenFaults, FailWithTheErrorNumberAndHoldNothing)
{
    const OpenFaultCase cases[] = {
        {"settings unreadable", SystemCall::Tcgetattr, 0, EIO},
        {"exclusivity refused", SystemCall::Ioctl, TIOCEXCL, EPERM},
        {"raw mode refused", SystemCall::Tcsetattr, 0, EIO},
    };
    PtyPair pty;
    for (const OpenFaultCase &c : cases) {
        {
            InjectedFault fault(c.call, c.error);
            fault.ForRequest(c.request).Times(1);
            OpenPort port(pty.SlaveName());
            EXPECT_EQ(port.get(), INVALID_HANDLE_VALUE) << c.name;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error)) << c.name;
            EXPECT_EQ(fault.Hits(), 1) << c.name;
        }
        EXPECT_NE(OpenPort(pty.SlaveName()).get(), INVALID_HANDLE_VALUE) << c.name;
    }
}

struct CallFaultCase {
    const char *name;
    SystemCall call;
    unsigned long request;
    int error;
    std::function<BOOL(HANDLE)> operation;
};

TEST(CommCallFaults, FailWithTheErrorNumber)
{
    const CallFaultCase cases[] = {
        {"GetCommState: settings unreadable", SystemCall::Tcgetattr, 0, EIO,
         [](HANDLE port) {
             DCB dcb{};
             dcb.DCBlength = sizeof dcb;
             return GetCommState(port, &dcb);
         }},
        {"SetCommState: settings unreadable", SystemCall::Tcgetattr, 0, EIO,
         [](HANDLE port) {
             DCB dcb{};
             dcb.BaudRate = 9600;
             dcb.ByteSize = 8;
             return SetCommState(port, &dcb);
         }},
        {"SetCommState: settings refused", SystemCall::Tcsetattr, 0, EINVAL,
         [](HANDLE port) { return SetProgramState(port, RTS_CONTROL_ENABLE); }},
        {"SetCommState: RTS refused", SystemCall::Ioctl, TIOCMBIS, EIO,
         [](HANDLE port) { return SetProgramState(port, RTS_CONTROL_ENABLE); }},
        {"SetCommState: DTR refused", SystemCall::Ioctl, TIOCMBIS, EIO,
         [](HANDLE port) { return SetProgramState(port, RTS_CONTROL_HANDSHAKE); }},
        {"ClearCommBreak", SystemCall::Ioctl, TIOCCBRK, EIO, [](HANDLE port) { return ClearCommBreak(port); }},
        {"PurgeComm", SystemCall::Tcflush, 0, EIO, [](HANDLE port) { return PurgeComm(port, PURGE_RXCLEAR); }},
        {"GetModuleFileNameA: no path", SystemCall::Readlink, 0, EACCES,
         [](HANDLE) {
             char path[MAX_PATH];
             return static_cast<BOOL>(GetModuleFileNameA(NULL, path, sizeof path));
         }},
    };
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    for (const CallFaultCase &c : cases) {
        InjectedFault fault(c.call, c.error);
        fault.ForRequest(c.request);
        EXPECT_FALSE(c.operation(port.get())) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error)) << c.name;
        EXPECT_GT(fault.Hits(), 0) << c.name;
    }
}

// A read that fails, or whose wait fails, completes with the error; one
// interrupted by a signal goes on.
struct ReadFaultCase {
    const char *name;
    SystemCall call;
    int error;
    int times;
    DWORD count;  // of the read; the port has "ab"
    DWORD completion;
    const char *delivered;
};

TEST(ReadFaults, CompleteWithTheErrorOrGoOn)
{
    const ReadFaultCase cases[] = {
        {"read fails", SystemCall::Read, EIO, -1, 2, EIO, ""},
        {"poll fails", SystemCall::Poll, ENOMEM, -1, 3, ENOMEM, "ab"},
        {"read interrupted", SystemCall::Read, EINTR, 1, 2, 0, "ab"},
    };
    for (const ReadFaultCase &c : cases) {
        PtyPair pty;
        OpenPort port(pty.SlaveName(), 0, 0);
        Request read;
        pty.Send("ab");
        InjectedFault fault(c.call, c.error);
        fault.Times(c.times);
        read.StartRead(port.get(), c.count);
        DWORD n = 99;
        EXPECT_EQ(GetOverlappedResult(port.get(), &read.ov, &n, TRUE), c.completion == 0) << c.name;
        if (c.completion != 0) {
            EXPECT_EQ(GetLastError(), c.completion) << c.name;
        }
        EXPECT_EQ(read.Text(n), c.delivered) << c.name;
    }
}

struct DsrFlowCase {
    const char *name;
    int lines;      // what TIOCMGET reports
    DWORD written;  // within the write's 50 ms
};

// DSR flow control holds output only where the driver reports its input
// lines: one that reads all of them low (usb_wwan without a status
// endpoint) reports none.
TEST(WriteFaults, DsrHoldsOutputWhereTheLinesAreReported)
{
    const DsrFlowCase cases[] = {
        {"DSR low, CTS reported", TIOCM_CTS | TIOCM_DTR, 0},
        {"DSR low, DCD reported", TIOCM_CAR, 0},
        {"DSR high", TIOCM_DSR, 4},
        {"no input line reported", TIOCM_DTR | TIOCM_RTS, 4},
    };
    for (const DsrFlowCase &c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        OpenPort port(pty.SlaveName());
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        dcb.fOutxDsrFlow = TRUE;
        ASSERT_TRUE(SetCommState(port.get(), &dcb));
        COMMTIMEOUTS timeouts{0, 0, 0, 0, 50};
        ASSERT_TRUE(SetCommTimeouts(port.get(), &timeouts));
        Request write;
        DWORD n = 99;
        InjectedFault lines(SystemCall::Ioctl, 0);
        lines.ForRequest(TIOCMGET).Succeeding(c.lines);
        WriteFile(port.get(), "AT\r\n", 4, NULL, &write.ov);
        EXPECT_TRUE(GetOverlappedResult(port.get(), &write.ov, &n, TRUE));
        EXPECT_EQ(n, c.written);
    }
}

// Output still queued in the driver: the write waits for it, fails with a
// failing wait, and at its time-out reports only the bytes that left.
TEST(WriteFaults, QueuedOutput)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 50};
    ASSERT_TRUE(SetCommTimeouts(port.get(), &timeouts));
    Request write;
    DWORD n = 99;
    {
        InjectedFault queued(SystemCall::Ioctl, 0);
        queued.ForRequest(TIOCOUTQ).Succeeding(3);
        WriteFile(port.get(), "AT\r\n", 4, NULL, &write.ov);
        EXPECT_TRUE(GetOverlappedResult(port.get(), &write.ov, &n, TRUE));
        EXPECT_EQ(n, 1u);
    }
    {
        InjectedFault interrupted(SystemCall::Write, EINTR);
        interrupted.Times(1);
        WriteFile(port.get(), "AT\r\n", 4, NULL, &write.ov);
        EXPECT_TRUE(GetOverlappedResult(port.get(), &write.ov, &n, TRUE));
        EXPECT_EQ(n, 4u);
    }
    {
        InjectedFault queued(SystemCall::Ioctl, 0);
        queued.ForRequest(TIOCOUTQ).Succeeding(3);
        InjectedFault pollFails(SystemCall::Poll, ENOMEM);
        WriteFile(port.get(), "AT\r\n", 4, NULL, &write.ov);
        EXPECT_FALSE(GetOverlappedResult(port.get(), &write.ov, &n, TRUE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOMEM));
    }
}

TEST(DebugOutputFaults, InterruptedWriteGoesOn)
{
    testing::internal::CaptureStderr();
    {
        InjectedFault interrupted(SystemCall::Write, EINTR);
        interrupted.Times(1);
        OutputDebugStringA("start to read serial port\n");
        Sleep(1);  // it goes out before the wait
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "start to read serial port\n");
}

struct ReleaseCase {
    const char *name;
    bool secondThread;               // a thread of the process asleep meanwhile
    std::function<void(HANDLE)> release;
};

// A driver's closing wait (5 s here) never holds the port's release: its
// close, or what ExitProcess and the stop signals do before the process
// ends. The port is closed once, put back and no longer exclusive, and the
// caller's signal mask is as it was.
TEST(PortReleaseFaults, ClosedWithinTheBoundOnEveryWayOut)
{
    const ReleaseCase cases[] = {
        {"CloseHandle", false, [](HANDLE port) { CloseHandle(port); }},
        {"CloseHandle beside another thread", true, [](HANDLE port) { CloseHandle(port); }},
        {"the ways out", false, [](HANDLE) { ReleaseRememberedPorts(); }},
    };
    for (const ReleaseCase &c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty;
        HANDLE port = CreateFileA(pty.SlaveName(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, NULL);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        sigset_t callers, mask;
        sigemptyset(&callers);
        sigaddset(&callers, SIGRTMIN);
        pthread_sigmask(SIG_BLOCK, &callers, nullptr);
        int wake[2];
        ASSERT_EQ(pipe(wake), 0);
        std::thread asleep;
        if (c.secondThread)
            asleep = std::thread([&wake] { char byte; (void)!::read(wake[0], &byte, 1); });
        double seconds = 0;
        {
            InjectedFault held(SystemCall::Close, 0);
            held.OnFd(Reference<CommPort>(port)->fd()).Holding(5000);
            auto start = std::chrono::steady_clock::now();
            c.release(port);
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            CloseHandle(port);  // after the ways out: the port must not be closed again
            EXPECT_EQ(held.Hits(), 1);
        }
        (void)!::write(wake[1], "w", 1);
        if (asleep.joinable())
            asleep.join();
        EXPECT_LT(seconds, 1.0);
        pthread_sigmask(SIG_UNBLOCK, &callers, &mask);
        EXPECT_TRUE(sigismember(&mask, SIGRTMIN));
        int other = open(pty.SlaveName(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        termios settings;
        ASSERT_EQ(tcgetattr(other, &settings), 0);
        EXPECT_NE(settings.c_lflag & ICANON, 0u);
        close(other);
        close(wake[0]);
        close(wake[1]);
    }
}

}  // namespace
