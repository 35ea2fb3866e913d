#include "trace.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_win32.h"

namespace {

std::string Traced(const std::string &text)
{
    fake::Begin({});
    DebugTrace("%s", text.c_str());
    return fake::Traced();
}

TEST(DebugTrace, PassesTextUnchanged)
{
    EXPECT_EQ(Traced("read buffer[2]: \r\n"), "read buffer[2]: \r\n");
    EXPECT_EQ(Traced(""), "");
}

TEST(DebugTrace, CutsOverlongTextToItsBuffer)
{
    // 511 characters and the terminator fill the 512-byte buffer.
    EXPECT_EQ(Traced(std::string(511, 'a')), std::string(511, 'a'));
    EXPECT_EQ(Traced(std::string(512, 'b')), std::string(511, 'b'));
    EXPECT_EQ(Traced(std::string(10000, 'c')), std::string(511, 'c'));
}

TEST(DebugTrace, CutTextKeepsItsLineEnd)
{
    fake::Begin({});
    DebugTrace("can not open %s, error: %d\n", std::string(5000, 'p').c_str(), 2);
    std::string traced = fake::Traced();
    EXPECT_EQ(traced.size(), 511u);
    EXPECT_EQ(traced.back(), '\n');
}

TEST(DebugTrace, TracedPortNamesItsPortWhileItLives)
{
    fake::Begin({});
    {
        TracedPort traced("/dev/ttyUSB2");
        DebugTrace("read buffer[%d]: %s", 2, "OK");
        DebugTrace("can not open %s, error: %d\n", std::string(5000, 'p').c_str(), 2);
    }
    DebugTrace("port list return %d\n", 1);
    std::string traced = fake::Traced();
    EXPECT_EQ(traced.substr(0, 30), "/dev/ttyUSB2: read buffer[2]: ");
    EXPECT_EQ(traced.substr(30, 30), "OK/dev/ttyUSB2: can not open p");
    // The cut keeps the line end and the buffer's size, name included.
    EXPECT_EQ(traced.substr(32 + 510), "\nport list return 1\n");
}

}  // namespace

namespace {

TEST(FatalCheckDeathTest, NamesTheConditionAndItsSourceFile)
{
    void *event = nullptr;
    EXPECT_EXIT(FATAL_CHECK(event != nullptr), testing::ExitedWithCode(255),
                 "assertion failed: event != nullptr, file tests/unit/trace_test.cpp, line [0-9]+");
}

}  // namespace
