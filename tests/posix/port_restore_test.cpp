// A port is left as it was found: settings restored (echo left off) and
// exclusivity released at its close and when a stop signal ends the process.
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <vector>

#include "port_fixtures.h"

namespace {

// Someone's terminal as they had set it: line editing, echo, 38400 baud.
void SetCooked(int fd)
{
    termios settings;
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    settings.c_lflag |= ICANON | ECHO | ECHONL;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
}

void ExpectFoundState(int fd)
{
    termios settings;
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    // Echo stays off: the next opener must not send the modem's output back.
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ECHONL), static_cast<tcflag_t>(ICANON));
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B38400));
    int exclusive = 1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

// The slave as another program sees it; it takes no lock.
struct Observer {
    explicit Observer(const PtyPair &pty) : fd(open(pty.SlaveName(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Observer() { close(fd); }
    int fd;
};

TEST(PortRestore, CloseRestoresSettingsAndExclusivity)
{
    PtyPair pty;
    Observer observer(pty);
    SetCooked(observer.fd);
    {
        OpenPort port(pty.SlaveName());
        ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
        int exclusive = 0;
        ioctl(observer.fd, TIOCGEXCL, &exclusive);
        EXPECT_EQ(exclusive, 1);
    }
    ExpectFoundState(observer.fd);
}

// More ports than the signal handler's table holds: each is still put back at its close.
TEST(PortRestore, CloseRestoresEveryPortOfMany)
{
    const int kPorts = 6;
    std::vector<std::unique_ptr<PtyPair>> ptys;
    std::vector<std::unique_ptr<Observer>> observers;
    std::vector<std::unique_ptr<OpenPort>> ports;
    for (int i = 0; i < kPorts; ++i) {
        ptys.push_back(std::make_unique<PtyPair>());
        observers.push_back(std::make_unique<Observer>(*ptys.back()));
        SetCooked(observers.back()->fd);
        ports.push_back(std::make_unique<OpenPort>(ptys.back()->SlaveName()));
        ASSERT_NE(ports.back()->get(), INVALID_HANDLE_VALUE);
    }
    ports.clear();
    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE(i);
        ExpectFoundState(observers[i]->fd);
    }
}

TEST(PortRestore, ExitProcessRestoresThePort)
{
    PtyPair pty;
    Observer observer(pty);
    SetCooked(observer.fd);
    pid_t child = fork();
    if (child == 0) {
        rlimit noCore{0, 0};  // SIGQUIT's default action would leave a core file
        setrlimit(RLIMIT_CORE, &noCore);
        OpenPort port(pty.SlaveName());
        ExitProcess(7);  // no destructor runs
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 7);
    ExpectFoundState(observer.fd);
}

class StopSignal : public testing::TestWithParam<int> {};

TEST_P(StopSignal, RestoresThePortThenEndsTheProcess)
{
    PtyPair pty;
    Observer observer(pty);
    SetCooked(observer.fd);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        OpenPort port(pty.SlaveName());
        Request read;
        read.StartRead(port.get());
        if (write(ready[1], "r", 1) != 1)
            _exit(2);
        WaitForSingleObject(read.ov.hEvent, 10000);  // in poll() when the signal comes
        _exit(3);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    usleep(50000);
    kill(child, GetParam());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), GetParam());
    ExpectFoundState(observer.fd);
    close(ready[0]);
    close(ready[1]);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const testing::TestParamInfo<int> &info) {
                             switch (info.param) {
                             case SIGINT: return "Interrupt";
                             case SIGTERM: return "Terminate";
                             case SIGHUP: return "HangUp";
                             default: return "Quit";
                             }
                         });

}  // namespace
