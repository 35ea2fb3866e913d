// The COMMTIMEOUTS rules on a fake clock: when a read ends, and how long
// it may wait for the fd until then.
#include "comm_timeouts.h"

#include <gtest/gtest.h>

#include "monotonic_clock.h"

namespace {

struct ReadRuleCase {
    const char *name;
    COMMTIMEOUTS timeouts;
    IoProgress progress;  // started at 1000
    uint64_t now;
    bool ends;
    uint64_t waitMs;
};

const ReadRuleCase kReadRules[] = {
    {"AtOnceWithNothing", {MAXDWORD, 0, 0, 0, 0}, {1000, 0, 0, 127}, 1000, true, kForever},
    {"CountOnlyWaitsForever", {0, 0, 0, 0, 0}, {1000, 1010, 5, 127}, 9000, false, kForever},
    {"CountReachedEnds", {0, 0, 0, 0, 0}, {1000, 1010, 127, 127}, 1010, true, kForever},
    {"TotalBeforeFirstByte", {100, 0, 500, 0, 0}, {1000, 0, 0, 127}, 1200, false, 300},
    {"TotalPassedWithNothing", {100, 0, 500, 0, 0}, {1000, 0, 0, 127}, 1500, true, kForever},
    {"IntervalAfterByte", {100, 0, 500, 0, 0}, {1000, 1200, 3, 127}, 1250, false, 50},
    {"IntervalPassed", {100, 0, 500, 0, 0}, {1000, 1200, 3, 127}, 1300, true, kForever},
    {"TotalShorterThanInterval", {100, 0, 500, 0, 0}, {1000, 1450, 9, 127}, 1460, false, 40},
    {"TotalPassedDuringTrickle", {100, 0, 500, 0, 0}, {1000, 1490, 9, 127}, 1500, true, kForever},
    {"MultiplierCountsBytes", {0, 10, 5, 0, 0}, {1000, 0, 0, 4}, 1000, false, 45},
    {"FirstByteWaitsConstant", {MAXDWORD, MAXDWORD, 200, 0, 0}, {1000, 0, 0, 127}, 1050, false, 150},
    {"FirstByteEnds", {MAXDWORD, MAXDWORD, 200, 0, 0}, {1000, 1050, 1, 127}, 1050, true, kForever},
};

void PrintTo(const ReadRuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReadRule : public testing::TestWithParam<ReadRuleCase> {};

TEST_P(ReadRule, EndsOrWaits)
{
    const ReadRuleCase &c = GetParam();
    IoStep step = NextReadStep(ReadTimeoutsFor(c.timeouts, c.progress.count), c.progress, c.now);
    EXPECT_EQ(step.ends, c.ends);
    if (!c.ends) {
        EXPECT_EQ(step.waitMs, c.waitMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, ReadRule, testing::ValuesIn(kReadRules),
                         [](const testing::TestParamInfo<ReadRuleCase> &info) { return info.param.name; });

TEST(WriteRule, EndsAtAllBytesOrTotal)
{
    COMMTIMEOUTS timeouts{0, 0, 0, 2, 100};
    uint64_t total = WriteTotalFor(timeouts, 50);
    EXPECT_EQ(total, 200u);
    EXPECT_TRUE(NextWriteStep(total, {1000, 0, 50, 50}, 1000).ends);
    EXPECT_EQ(NextWriteStep(total, {1000, 0, 10, 50}, 1150).waitMs, 50u);
    EXPECT_TRUE(NextWriteStep(total, {1000, 0, 10, 50}, 1200).ends);
    EXPECT_FALSE(NextWriteStep(0, {1000, 0, 10, 50}, 99999).ends);
}

}  // namespace
