// The time-out rules against a real pty, with the program's settings
// (interval 100, total 500, 127 bytes) unless a case says otherwise.
#include <gtest/gtest.h>

#include "port_fixtures.h"

namespace {

struct TimedReadCase {
    const char *name;
    DWORD interval;
    DWORD constant;
    std::vector<std::pair<int, std::string>> feed;
    DWORD minBytes, maxBytes;
    long minMs, maxMs;
};

const TimedReadCase kTimedReads[] = {
    {"NoDataEndsAtTotal", 100, 500, {}, 0, 0, 450, 900},
    {"SilenceEndsInterval", 100, 2000, {{150, "hello"}}, 5, 5, 230, 1500},
    // The interval is well above the 50 ms pace, so a stalled feeder does
    // not end the read before the total.
    {"TrickleEndsAtTotal", 300, 500, {{0, "."}, {50, "."}, {100, "."}, {150, "."}, {200, "."},
                                      {250, "."}, {300, "."}, {350, "."}, {400, "."}, {450, "."},
                                      {500, "."}, {550, "."}, {600, "."}, {650, "."}, {700, "."}},
     4, 11, 450, 800},
    {"AtOnceWithNothing", MAXDWORD, 0, {}, 0, 0, 0, 400},
};

void PrintTo(const TimedReadCase &c, std::ostream *os)
{
    *os << c.name;
}

class TimedRead : public testing::TestWithParam<TimedReadCase> {};

TEST_P(TimedRead, EndsAsTheRulesSay)
{
    const TimedReadCase &c = GetParam();
    PtyPair pty;
    OpenPort port(pty.SlaveName(), c.interval, c.constant);
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    Request read;
    DWORD start = GetTickCount();
    ASSERT_FALSE(read.StartRead(port.get()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    Feeder feeder(pty, c.feed);
    ASSERT_EQ(WaitForSingleObject(read.ov.hEvent, 5000), WAIT_OBJECT_0);
    long elapsed = ElapsedMs(start);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_GE(n, c.minBytes);
    EXPECT_LE(n, c.maxBytes);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LE(elapsed, c.maxMs);
}

INSTANTIATE_TEST_SUITE_P(Pty, TimedRead, testing::ValuesIn(kTimedReads),
                         [](const testing::TestParamInfo<TimedReadCase> &info) { return info.param.name; });

TEST(TimedRead, FullCountEndsAtOnceThenTheRest)
{
    // A long interval, so that a read held back by it stands out from
    // scheduling delays on a busy machine.
    PtyPair pty;
    OpenPort port(pty.SlaveName(), 1000, 3000);
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    pty.Send(std::string(200, 'x'));
    Request read;
    DWORD n = 0;
    DWORD start = GetTickCount();
    read.StartRead(port.get());
    ASSERT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_EQ(n, 127u);
    EXPECT_LT(ElapsedMs(start), 500);  // not held back by the interval
    read.StartRead(port.get());
    ASSERT_TRUE(GetOverlappedResult(port.get(), &read.ov, &n, TRUE));
    EXPECT_EQ(n, 73u);
    EXPECT_LT(ElapsedMs(start), 2500);  // the interval after the last byte, not the total
}

}  // namespace
