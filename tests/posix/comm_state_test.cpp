// Line settings, errors and purges of an open comm port.
#include <gtest/gtest.h>

#include "port_fixtures.h"

namespace {

TEST(CommState, RoundTripsTheProgramsSettings)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb - 1;
    EXPECT_FALSE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    dcb.BaudRate = 9600;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    EXPECT_TRUE(SetCommState(port.get(), &dcb));  // a pty has no modem lines: accepted
    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(port.get(), &back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_TRUE(back.fOutxCtsFlow);
    dcb.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port.get(), &dcb));
    EXPECT_TRUE(ClearCommBreak(port.get()));
    pty.Send("xyz");
    DWORD errors = 1;
    COMSTAT status{};
    // The pty hands the bytes to the slave side asynchronously.
    for (DWORD start = GetTickCount(); status.cbInQue < 3 && GetTickCount() - start < 2000; Sleep(10))
        EXPECT_TRUE(ClearCommError(port.get(), &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 3u);
}

struct FrameCase {
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
    bool accepted;
};

// Frames termios can express are taken, others refused. (A pty itself
// keeps 8 data bits without parity, so what it reads back says nothing.)
TEST(CommState, FramesTermiosCannotExpressAreRefused)
{
    const FrameCase cases[] = {
        {5, NOPARITY, ONE5STOPBITS, true}, {6, ODDPARITY, ONESTOPBIT, true},
        {7, EVENPARITY, TWOSTOPBITS, true}, {8, 3, ONESTOPBIT, false},  // mark parity
        {8, NOPARITY, ONE5STOPBITS, false}, {4, NOPARITY, ONESTOPBIT, false},
    };
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    for (const FrameCase &c : cases) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        dcb.ByteSize = c.byteSize;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stopBits;
        SetLastError(0);
        EXPECT_EQ(SetCommState(port.get(), &dcb), c.accepted) << int(c.byteSize) << int(c.parity);
        EXPECT_EQ(GetLastError(), c.accepted ? 0u : ERROR_INVALID_PARAMETER) << int(c.byteSize) << int(c.parity);
    }
    EXPECT_FALSE(SetCommState(port.get(), nullptr));
    EXPECT_FALSE(SetCommTimeouts(port.get(), nullptr));
}

TEST(CommPurge, DiscardsInputWaitingBeforeIt)
{
    PtyPair pty;
    OpenPort port(pty.SlaveName());
    pty.Send("\r\nOK\r\n");
    DWORD errors = 0;
    COMSTAT status{};
    for (DWORD start = GetTickCount(); status.cbInQue < 6 && GetTickCount() - start < 2000; Sleep(10))
        ClearCommError(port.get(), &errors, &status);
    ASSERT_EQ(status.cbInQue, 6u);
    EXPECT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR));
    ClearCommError(port.get(), &errors, &status);
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port.get(), PURGE_RXABORT));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
