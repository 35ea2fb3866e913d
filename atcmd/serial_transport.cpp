#include "serial_transport.h"

#include <cstring>

#include "answer_output.h"
#include "deadline.h"
#include "handle_guard.h"
#include "system_ports.h"
#include "read_completion.h"
#include "response_recognition.h"
#include "trace.h"

namespace {

const DWORD kReadChunkSize = 127;

// The loop's one read request: buffer, control block and event. A read
// still pending when the request is retired or destroyed is cancelled and
// waited for, so it never outlives them and never overlaps the next read.
class SerialRead {
public:
    explicit SerialRead(HANDLE port) : port_(port)
    {
        memset(&ovSerialRead, 0, sizeof ovSerialRead);
        ovSerialRead.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        FATAL_CHECK(ovSerialRead.hEvent != NULL);
    }
    ~SerialRead()
    {
        CancelPending();
        CloseHandle(ovSerialRead.hEvent);
    }
    SerialRead(const SerialRead &) = delete;
    SerialRead &operator=(const SerialRead &) = delete;

    // Starts a read; false with the last error set when it failed at once.
    bool Start()
    {
        ovSerialRead.Internal = 0;
        ovSerialRead.InternalHigh = 0;
        ovSerialRead.Offset = 0;
        ovSerialRead.OffsetHigh = 0;
        ResetEvent(ovSerialRead.hEvent);
        DebugTrace("start to read serial port\n");
        if (!ReadFile(port_, buffer_, kReadChunkSize, NULL, &ovSerialRead) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        pending_ = true;
        return true;
    }

    DWORD Wait(DWORD milliseconds) { return WaitForSingleObject(ovSerialRead.hEvent, milliseconds); }

    // Fetches the outcome of the read, waiting for it; the bytes it
    // delivered are then Text(), NUL-terminated for the trace.
    ReadCompletion Finish(DWORD &bytesRead, DWORD &lastError)
    {
        bytesRead = 0;
        BOOL succeeded = GetOverlappedResult(port_, &ovSerialRead, &bytesRead, TRUE);
        lastError = succeeded ? 0 : GetLastError();
        pending_ = false;
        buffer_[bytesRead <= kReadChunkSize ? bytesRead : kReadChunkSize] = '\0';
        return ClassifyReadCompletion(succeeded, lastError, bytesRead);
    }

    // Cancels a pending read and waits for it to end; returns the bytes it
    // had brought.
    DWORD CancelPending()
    {
        if (!pending_)
            return 0;
        CancelIo(port_);
        DWORD bytesRead = 0;
        DWORD lastError = 0;
        Finish(bytesRead, lastError);
        return bytesRead;
    }

    const char *Text() const { return buffer_; }

private:
    HANDLE port_;
    OVERLAPPED ovSerialRead;
    char buffer_[kReadChunkSize + 1];
    bool pending_ = false;
};

// What one transaction's reading works on.
struct Answer {
    ResponseStream responseStream;
    const ExpectedResponse &expected;
    AnswerSink sink;
};

// Passes bytes read from the port on to where the answer goes.
void PassOn(const Answer &answer, const char *bytes, DWORD count)
{
    if (answer.sink == AnswerSink::StandardOutput)
        WriteAnswer(bytes, count);
}

// Traces a chunk, passes it to standard output, appends it to the answer
// and scans what is new.
AtResult TakeChunk(const char *chunk, DWORD bytesRead, Answer &answer, PartialLine partial)
{
    DebugTrace("read buffer[%d]: %s", static_cast<int>(bytesRead), chunk);
    PassOn(answer, chunk, bytesRead);
    answer.responseStream.Append(chunk, bytesRead);
    return ScanResponseLines(answer.responseStream, answer.expected, partial);
}

// A read that ended short of its buffer ended because the modem paused for
// the read interval: its unfinished line is as complete as the port
// delivers it. After a full read more of it may be waiting.
PartialLine AfterRead(DWORD bytesRead)
{
    return bytesRead < kReadChunkSize ? PartialLine::Quiet : PartialLine::Growing;
}

// One pass of the read loop: one read, one bounded wait, one outcome, one
// scan. kAtUndecided: no verdict yet, the next pass follows.
AtResult ReadPass(SerialRead &read, const Deadline &deadline, Answer &answer)
{
    if (!read.Start()) {
        DebugTrace("read serial port failed, err: %d\n", static_cast<int>(GetLastError()));
        return kAtFailure;
    }
    DWORD waitResult = read.Wait(deadline.Remaining(GetTickCount()));
    DebugTrace("wait return %d\n", static_cast<int>(waitResult));
    if (waitResult == WAIT_TIMEOUT) {
        DebugTrace("read timeouts\n");
        // Cut by the deadline, not by a pause of the modem.
        DWORD late = read.CancelPending();
        return late > 0 ? TakeChunk(read.Text(), late, answer, PartialLine::Growing) : kAtUndecided;
    }
    if (waitResult != WAIT_OBJECT_0) {
        DebugTrace("start to cancel IO\n");
        // Judged by nobody, but read from the port: standard output has them.
        DWORD late = read.CancelPending();
        PassOn(answer, read.Text(), late);
        return kAtFailure;
    }
    DebugTrace("start to get overlapped result");
    DWORD bytesRead = 0;
    DWORD lastError = 0;
    switch (read.Finish(bytesRead, lastError)) {
    case ReadCompletion::NoBytes:
        DebugTrace("no bytes read\n");
        // The modem has gone quiet: an unfinished line (a "> " prompt) is
        // as complete as it will get.
        return ScanResponseLines(answer.responseStream, answer.expected, PartialLine::Quiet);
    case ReadCompletion::Bytes:
        return TakeChunk(read.Text(), bytesRead, answer, AfterRead(bytesRead));
    case ReadCompletion::Cancelled:
    case ReadCompletion::Failed:
        break;
    }
    DebugTrace("get overlapped failed, error: %d\n", static_cast<int>(lastError));
    return kAtFailure;
}

// Reads and judges until a verdict or the deadline. A verdict reached when
// the deadline has passed is the time limit's.
AtResult ReadAnswer(SerialRead &read, const Deadline &deadline, const ExpectedResponse &expected, AnswerSink sink)
{
    Answer answer{ResponseStream(), expected, sink};
    AtResult end = kAtUndecided;
    while (end == kAtUndecided && !deadline.Reached(GetTickCount()))
        end = ReadPass(read, deadline, answer);
    // Undecided only when the deadline ended the loop.
    return deadline.Reached(GetTickCount()) ? kAtTimeout : end;
}

// The transaction on an open port, from the configuration to the verdict.
AtResult TalkToModem(HANDLE port, const char *cmd, const char *resp, DWORD timeout, AnswerSink sink)
{
    SerialRead read(port);

    DebugTrace("start to config serial port\n");
    int ret = ConfigSerialPort(port);
    if (ret < 0) {
        DebugTrace("config serial port failed, ret(%d)\n", ret);
        return kAtFailure;
    }
    DebugTrace("config serial port succeeded\n");
    DWORD required = static_cast<DWORD>(strlen(cmd));
    DWORD written = WriteSerialPort(port, cmd, required);
    if (written < required) {
        DebugTrace("write less bytes to serial, required(%d), ret(%d)\n", static_cast<int>(required),
                   static_cast<int>(written));
        return kAtFailure;
    }
    DebugTrace("write at command succeeded.\n");

    // Compiled before the time limit starts: a long expression takes time.
    ExpectedResponse expected(resp);
    Deadline deadline(GetTickCount(), timeout);
    AtResult result = ReadAnswer(read, deadline, expected, sink);
    if (sink == AnswerSink::StandardOutput)
        FinishAnswer(deadline);
    return result;
}

// Names the other programs that have the port open: one may have taken the
// answer, or hold the port (a busy open). Traced after a run that failed
// only, as the look costs milliseconds.
void TraceOtherHolders(const char *portname)
{
    const DWORD kShown = 8;
    PortHolder holders[kShown];
    DWORD count = OtherPortHolders(portname, holders, kShown);
    for (DWORD i = 0; i < count && i < kShown; ++i)
        DebugTrace("port %s is also open in %d (%s)\n", portname, static_cast<int>(holders[i].processId),
                   holders[i].name);
}

// Opens the port and runs the transaction on it.
AtResult OpenAndTalk(const char *portname, const char *cmd, const char *resp, DWORD timeout, AnswerSink sink)
{
    HandleGuard port(CreateFileA(portname, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, NULL));
    if (port.get() == INVALID_HANDLE_VALUE) {
        DebugTrace("can not open %s, error: %d\n", portname, static_cast<int>(GetLastError()));
        return kAtFailure;
    }
    DebugTrace("serial port open succeeded\n");
    return TalkToModem(port.get(), cmd, resp, timeout, sink);
}

}  // namespace

AtResult SerialAtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout)
{
    return SerialAtCommand(portname, cmd, resp, timeout, AnswerSink::StandardOutput);
}

AtResult SerialAtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout, AnswerSink sink)
{
    DebugTrace("SerialAtCommand(), portname(%s), cmd(%s), resp(%s), timeout(%d)\n", portname, cmd, resp,
               static_cast<int>(timeout));
    AtResult result = OpenAndTalk(portname, cmd, resp, timeout, sink);
    if (result != kAtSuccess)
        TraceOtherHolders(portname);
    return result;
}

int ConfigSerialPort(HANDLE port)
{
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 500;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutMs;
    if (!SetCommTimeouts(port, &timeouts)) {
        DebugTrace("set comm timeouts failed, error: %d\n", static_cast<int>(GetLastError()));
        return -1;
    }

    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        DebugTrace("get COMM DCB failed, error: %d", static_cast<int>(GetLastError()));
        return -1;
    }
    dcb.BaudRate = 9600;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    if (!SetCommState(port, &dcb)) {
        DebugTrace("set COMM DCB failed, error: %d", static_cast<int>(GetLastError()));
        return -1;
    }

    ClearCommBreak(port);
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(port, &errors, &status);
    // What waits in the port now cannot be the answer to the command about
    // to be written (a late answer to an earlier run): it must not judge it.
    PurgeComm(port, PURGE_RXCLEAR);
    return 0;
}

DWORD WriteSerialPort(HANDLE port, const char *data, DWORD length)
{
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    FATAL_CHECK(ov.hEvent);
    HandleGuard event(ov.hEvent);
    DWORD written = 0;
    if (!WriteFile(port, data, length, &written, &ov) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &ov, &written, TRUE);
    return written;
}
