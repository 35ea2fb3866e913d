#include "deadline.h"

#include <gtest/gtest.h>

namespace {

struct DeadlineCase {
    const char *name;
    DWORD start;
    DWORD limit;
    DWORD now;
    bool reached;
    DWORD remaining;
};

TEST(Deadline, ElapsedTicksAcrossTheWrap)
{
    const DeadlineCase cases[] = {
        {"fresh", 1000, 3000, 1000, false, 3000},
        {"halfway", 1000, 3000, 2500, false, 1500},
        {"exactly", 1000, 3000, 4000, true, 0},
        {"late", 1000, 3000, 9000, true, 0},
        {"no limit", 1000, 0, 0xFFFFFFF0u, false, INFINITE},
        {"start near wrap", 0xFFFFFF00u, 3000, 0xFFFFFFFFu, false, 3000 - 0xFF},
        {"wrapped, not yet", 0xFFFFFF00u, 3000, 100, false, 3000 - 0x100 - 100},
        {"wrapped, reached", 0xFFFFFF00u, 3000, 3000, true, 0},
        {"largest limit, full cycle", 5, 0xFFFFFFFFu, 4, true, 0},
        {"largest limit, early", 5, 0xFFFFFFFFu, 105, false, 0xFFFFFFFFu - 100},
    };
    for (const DeadlineCase &c : cases) {
        Deadline deadline(c.start, c.limit);
        EXPECT_EQ(deadline.Reached(c.now), c.reached) << c.name;
        EXPECT_EQ(deadline.Remaining(c.now), c.remaining) << c.name;
    }
}

TEST(Deadline, LargestLimitIsAlmostFiftyDaysNotImmediate)
{
    // "/timeout -1" reaches the transaction as 0xFFFFFFFF.
    Deadline deadline(0x80000000u, 0xFFFFFFFFu);
    EXPECT_FALSE(deadline.Reached(0x80000000u));
    EXPECT_FALSE(deadline.Reached(0x7FFFFFFEu));  // one tick short of the full cycle
    EXPECT_GT(deadline.Remaining(0x80000000u), 0u);
}

}  // namespace
