// Line settings (DCB <-> termios and modem lines), time-outs, break and
// error state of a comm port.
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>

#include "comm_port.h"
#include "failure.h"
#include "output_queue.h"

namespace {

struct BaudRate {
    DWORD bitsPerSecond;
    speed_t speed;
};

const BaudRate kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool SpeedOf(DWORD bitsPerSecond, speed_t &speed)
{
    for (const BaudRate &rate : kBaudRates)
        if (rate.bitsPerSecond == bitsPerSecond) {
            speed = rate.speed;
            return true;
        }
    return false;
}

DWORD BitsPerSecondOf(speed_t speed)
{
    for (const BaudRate &rate : kBaudRates)
        if (rate.speed == speed)
            return rate.bitsPerSecond;
    return 0;
}

bool ByteSizeFlag(BYTE byteSize, tcflag_t &flag)
{
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (byteSize < 5 || byteSize > 8)
        return false;
    flag = kSizes[byteSize - 5];
    return true;
}

BYTE ByteSizeOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

// DCB fields into termios; false when a value has no termios form.
bool ApplyDcb(const DCB &dcb, termios &settings)
{
    speed_t speed;
    tcflag_t size;
    if (!SpeedOf(dcb.BaudRate, speed) || !ByteSizeFlag(dcb.ByteSize, size))
        return false;
    if (dcb.Parity > EVENPARITY || dcb.StopBits > TWOSTOPBITS || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        return false;
    // 1.5 stop bits exist only with 5 data bits, where the UART gives them for CSTOPB.
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5)
        return false;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= size;
    if (dcb.Parity != NOPARITY)
        settings.c_cflag |= PARENB | (dcb.Parity == ODDPARITY ? PARODD : 0);
    if (dcb.StopBits != ONESTOPBIT)
        settings.c_cflag |= CSTOPB;
    // Linux has one switch, CRTSCTS, for both directions of RTS/CTS flow
    // control: CTS output flow control (the program's fOutxCtsFlow) brings
    // RTS input flow control with it, so the driver lowers RTS when its input
    // buffer fills, where Windows with RTS_CONTROL_ENABLE keeps RTS simply
    // on: a modem that honours RTS pauses here until the input is read. No
    // termios setting keeps RTS raised with CTS flow control on. Read back,
    // the port reports RTS_CONTROL_HANDSHAKE.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        settings.c_cflag |= CRTSCTS;
    // fOutxDsrFlow has no termios counterpart: the writes enforce it.
    settings.c_iflag &= ~(IXON | IXOFF | INPCK);
    settings.c_iflag |= (dcb.fOutX ? IXON : 0) | (dcb.fInX ? IXOFF : 0) | (dcb.fParity ? INPCK : 0);
    settings.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return true;
}

// Raises or lowers one modem line. Devices without modem lines (a pty, many
// virtual ports) refuse the ioctl; Windows drivers for such ports accept
// the setting and do nothing, and so does this.
int SetModemLine(int fd, int line, bool raised)
{
    if (ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0 || NotImplemented(errno))
        return 0;
    return errno;
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    if (dcb == nullptr || dcb->DCBlength != sizeof(DCB))
        return Fail(ERROR_INVALID_PARAMETER);
    termios settings;
    if (tcgetattr(port->fd(), &settings) != 0)
        return Fail(errno);
    memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = BitsPerSecondOf(cfgetospeed(&settings));
    dcb->fBinary = TRUE;
    dcb->fParity = (settings.c_iflag & INPCK) != 0;
    dcb->fOutxCtsFlow = (settings.c_cflag & CRTSCTS) != 0;
    dcb->fOutxDsrFlow = port->outxDsrFlow;
    dcb->fOutX = (settings.c_iflag & IXON) != 0;
    dcb->fInX = (settings.c_iflag & IXOFF) != 0;
    // Without modem lines to ask, report them raised, as virtual ports do.
    int lines = TIOCM_RTS | TIOCM_DTR;
    ioctl(port->fd(), TIOCMGET, &lines);
    dcb->fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb->fRtsControl = dcb->fOutxCtsFlow     ? RTS_CONTROL_HANDSHAKE
                       : (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE
                                             : RTS_CONTROL_DISABLE;
    dcb->ByteSize = ByteSizeOf(settings.c_cflag);
    dcb->Parity = !(settings.c_cflag & PARENB) ? NOPARITY : (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb->StopBits = !(settings.c_cflag & CSTOPB) ? ONESTOPBIT : dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb->XonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
    dcb->EofChar = static_cast<char>(settings.c_cc[VEOF]);
    return TRUE;
}

BOOL SetCommState(HANDLE h, LPDCB dcb)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    termios settings;
    if (dcb == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (tcgetattr(port->fd(), &settings) != 0)
        return Fail(errno);
    if (!ApplyDcb(*dcb, settings))
        return Fail(ERROR_INVALID_PARAMETER);
    if (tcsetattr(port->fd(), TCSANOW, &settings) != 0)
        return Fail(errno);
    port->outxDsrFlow = dcb->fOutxDsrFlow != 0;
    if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE)
        if (int error = SetModemLine(port->fd(), TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE))
            return Fail(error);
    if (int error = SetModemLine(port->fd(), TIOCM_DTR, dcb->fDtrControl != DTR_CONTROL_DISABLE))
        return Fail(error);
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    if (timeouts == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    port->SetTimeouts(*timeouts);
    return TRUE;
}

BOOL ClearCommBreak(HANDLE h)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    if (ioctl(port->fd(), TIOCCBRK) != 0 && !NotImplemented(errno))
        return Fail(errno);
    return TRUE;
}

// termios keeps no error flags to clear; the queue sizes are reported.
BOOL ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    if (errors != nullptr)
        *errors = 0;
    if (stat != nullptr) {
        memset(stat, 0, sizeof *stat);
        int queued = 0;
        if (ioctl(port->fd(), FIONREAD, &queued) == 0 && queued > 0)
            stat->cbInQue = static_cast<DWORD>(queued);
        stat->cbOutQue = QueuedOutput(port->fd());
    }
    return TRUE;
}

// Discards what waits in the terminal's queues. The abort flags, which
// the program never passes, are refused.
BOOL PurgeComm(HANDLE h, DWORD flags)
{
    std::shared_ptr<CommPort> port = ReferenceTerminal(h);
    if (port == nullptr)
        return FALSE;
    if (flags & ~(PURGE_RXCLEAR | PURGE_TXCLEAR))
        return Fail(ERROR_INVALID_PARAMETER);
    bool input = (flags & PURGE_RXCLEAR) != 0;
    bool output = (flags & PURGE_TXCLEAR) != 0;
    if ((input || output) && tcflush(port->fd(), input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH) != 0)
        return Fail(errno);
    return TRUE;
}
