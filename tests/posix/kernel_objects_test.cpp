// Handles: a closed or unknown one is refused, never mistaken for another.
#include <vector>
#include <gtest/gtest.h>

#include "win32_subset.h"

namespace {

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
