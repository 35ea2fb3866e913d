// Every way a transaction can fail, run through the whole program (command
// line, transport, verdict) against the scripted fake: the verdict, the
// traces in order, the library calls, and that all it obtained was released.
#include <algorithm>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32.h"
#include "tester.h"

namespace {

using fake::Call;
using fake::Delivery;
using fake::kEveryCall;
using fake::Script;

struct Row {
    const char *name;
    std::vector<std::string> args;  // after the program's name
    Script script;
    int verdict;
    // In this order among the traces; the last is the run's last trace.
    std::vector<std::string> traces;
    std::vector<std::string> entryCalls;  // the library's entry points, in order
};

Script With(std::vector<fake::Step> steps, std::vector<Delivery> reads = {})
{
    Script script;
    script.steps = std::move(steps);
    script.reads = std::move(reads);
    return script;
}

Script Written(long long bytes)
{
    Script script;
    script.writtenBytes = bytes;
    return script;
}

Script StartingAt(DWORD tick)
{
    Script script;
    script.startTick = tick;
    return script;
}

Script RunningFrom(const std::string &executablePath)
{
    Script script;
    script.executablePath = executablePath;
    return script;
}

Script HeldBy(std::vector<PortHolder> holders, std::vector<fake::Step> steps = {}, std::vector<Delivery> reads = {})
{
    Script script = With(std::move(steps), std::move(reads));
    script.holders = std::move(holders);
    return script;
}

Script Lacking(const std::string &entryPoint)
{
    Script script;
    script.missingEntryPoints = {entryPoint};
    return script;
}

int RunProgram(const Row &row)
{
    fake::Begin(row.script);
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), "atcmd");
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    TesterOptions options;
    return RunTester(static_cast<int>(argv.size()), argv.data(), options);
}

// True when `expected` appears in `traces` in order and ends where they end.
bool AppearInOrder(const std::vector<std::string> &expected, const std::vector<std::string> &traces)
{
    size_t at = 0;
    for (const std::string &trace : traces)
        if (at < expected.size() && trace == expected[at])
            ++at;
    return at == expected.size() && !traces.empty() && traces.back() == expected.back();
}

std::string Listed(const std::vector<std::string> &texts)
{
    std::string listed;
    for (const std::string &text : texts)
        listed += "  [" + text + "]\n";
    return listed;
}

void Check(const Row &row)
{
    int verdict = RunProgram(row);
    const fake::Record &record = fake::Recorded();
    EXPECT_EQ(verdict, row.verdict) << row.name;
    EXPECT_TRUE(AppearInOrder(row.traces, record.traces)) << row.name << ", traced:\n" << Listed(record.traces);
    EXPECT_EQ(record.entryCalls, row.entryCalls) << row.name;
    EXPECT_EQ(record.handlesHeld, 0) << row.name;
    EXPECT_EQ(record.librariesHeld, 0) << row.name;
    EXPECT_EQ(record.mbimHandlesHeld, 0) << row.name;
    EXPECT_EQ(record.misuses, 0) << row.name;
    // Who else has the port open is asked after a serial run that failed, never after one that passed.
    bool serial = std::find(row.args.begin(), row.args.end(), "/mbim") == row.args.end();
    EXPECT_EQ(record.holderLooks, serial && row.verdict != 1 ? 1 : 0) << row.name;
}

const std::vector<std::string> kSerial = {"/port", "COM3", "/cmd", "AT", "/resp", "OK", "/timeout", "700"};
const char kStart[] = "SerialAtCommand(), portname(COM3), cmd(AT\r\n), resp(OK), timeout(700)\n";
const char kConfigFailed[] = "config serial port failed, ret(-1)\n";
const char kWritten[] = "write at command succeeded.\n";
const char kReadStarted[] = "start to read serial port\n";

TEST(SerialTransaction, EveryFailurePath)
{
    const Row rows[] = {
        {"answered", kSerial, With({}, {{"OK\r\n"}}), 1,
         {kStart, kWritten, "wait return 0\n", "read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
        {"port does not open", kSerial, With({{Call::CreateFileA, 1, 0, 2}}), -1,
         {kStart, "can not open COM3, error: 2\n", "AtCommand() return -1\n"}, {}},
        {"time-outs refused", kSerial, With({{Call::SetCommTimeouts, 1, FALSE, 22}}), -1,
         {"set comm timeouts failed, error: 22\n", kConfigFailed, "AtCommand() return -1\n"}, {}},
        {"line settings unreadable", kSerial, With({{Call::GetCommState, 1, FALSE, 5}}), -1,
         {"get COMM DCB failed, error: 5", kConfigFailed, "AtCommand() return -1\n"}, {}},
        {"line settings refused", kSerial, With({{Call::SetCommState, 1, FALSE, 87}}), -1,
         {"set COMM DCB failed, error: 87", kConfigFailed, "AtCommand() return -1\n"}, {}},
        {"write fails at once", kSerial, With({{Call::WriteFile, 1, FALSE, 5}}), -1,
         {"write less bytes to serial, required(4), ret(0)\n", "AtCommand() return -1\n"}, {}},
        {"short write", kSerial, Written(2), -1,
         {"write less bytes to serial, required(4), ret(2)\n", "AtCommand() return -1\n"}, {}},
        {"write completes at once", kSerial, With({{Call::WriteFile, 1, TRUE, 0}}, {{"OK\r\n"}}), 1,
         {kWritten, "read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
        {"read completes at once", kSerial, With({{Call::ReadFile, 1, TRUE, 0}}, {{"OK\r\n"}}), 1,
         {kReadStarted, "wait return 0\n", "read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
        {"read fails at once", kSerial, With({{Call::ReadFile, 1, FALSE, 31}}), -1,
         {kWritten, kReadStarted, "read serial port failed, err: 31\n", "AtCommand() return -1\n"}, {}},
        {"second read fails at once", kSerial, With({{Call::ReadFile, 2, FALSE, 31}}, {{"O"}}), -1,
         {"read buffer[1]: O", kReadStarted, "read serial port failed, err: 31\n", "AtCommand() return -1\n"}, {}},
        {"wait fails", kSerial, With({{Call::WaitForSingleObject, 1, WAIT_FAILED, 6}}), -1,
         {kReadStarted, "wait return -1\n", "start to cancel IO\n", "AtCommand() return -1\n"}, {}},
        {"device error", kSerial, With({}, {{"", FALSE, 22}}), -1,
         {"start to get overlapped result", "get overlapped failed, error: 22\n", "AtCommand() return -1\n"}, {}},
        {"read aborted by the device", kSerial, With({}, {{"", FALSE, ERROR_OPERATION_ABORTED}}), -1,
         {"get overlapped failed, error: 995\n", "AtCommand() return -1\n"}, {}},
        {"Wine's time-out with nothing", kSerial, With({}, {{"", FALSE, ERROR_TIMEOUT}, {"OK\r\n"}}), 1,
         {"no bytes read\n", "read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
        {"Wine's time-out with bytes", kSerial, With({}, {{"OK\r\n", FALSE, ERROR_TIMEOUT}}), 1,
         {"read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
        // Reads of 500 ms with nothing: the second is cut by the limit at 700.
        {"silent modem", kSerial, Script(), -2,
         {"no bytes read\n", "wait return 258\n", "read timeouts\n", "AtCommand() return -2\n"}, {}},
        {"silent modem across the tick wrap", kSerial, StartingAt(0xFFFFFE00u), -2,
         {kReadStarted, "no bytes read\n", "wait return 258\n", "read timeouts\n", "AtCommand() return -2\n"}, {}},
        // The answer that arrives as the limit passes is read, but too late.
        {"answer cut by the limit", kSerial, With({}, {{"OK\r\n", TRUE, 0, 900}}), -2,
         {"wait return 258\n", "read timeouts\n", "read buffer[4]: OK\r\n", "AtCommand() return -2\n"}, {}},
        // Other programs that have the port open are named when the run fails.
        {"port busy", kSerial, HeldBy({{812, "ModemManager"}}, {{Call::CreateFileA, 1, 0, 16}}), -1,
         {"can not open COM3, error: 16\n", "port COM3 is also open in 812 (ModemManager)\n",
          "AtCommand() return -1\n"}, {}},
        {"answer taken by another reader", kSerial, HeldBy({{812, "ModemManager"}, {4711, "cat"}}), -2,
         {"read timeouts\n", "port COM3 is also open in 812 (ModemManager)\n", "port COM3 is also open in 4711 (cat)\n",
          "AtCommand() return -2\n"}, {}},
        {"shared port, answered", kSerial, HeldBy({{4711, "cat"}}, {}, {{"OK\r\n"}}), 1,
         {"read buffer[4]: OK\r\n", "AtCommand() return 1\n"}, {}},
    };
    for (const Row &row : rows)
        Check(row);
}

// Standard output without a writer for it: the answer is lost, never
// written by the transaction's thread, and what was made for the writer is
// released; the verdict stands. The writer is the process's, so each row
// runs in a process of its own.
TEST(AnswerOutputDeathTest, LostWhenItsWriterCannotStart)
{
    const std::vector<std::string> answered = {kWritten, "read buffer[4]: OK\r\n", "AtCommand() return 1\n"};
    const Row rows[] = {
        {"no thread", kSerial, With({{Call::GetStdHandle, 1, 1, 0}}, {{"OK\r\n"}}), 1, answered, {}},
        // The port's read and write took the first two events.
        {"no event", kSerial, With({{Call::GetStdHandle, 1, 1, 0}, {Call::CreateEventA, 3, 0, 8}}, {{"OK\r\n"}}),
         1, answered, {}},
    };
    for (const Row &row : rows) {
        EXPECT_EXIT(
            {
                Check(row);
                EXPECT_EQ(fake::Recorded().sent, "AT\r\n") << row.name;
                exit(testing::Test::HasFailure() ? 1 : 0);
            },
            testing::ExitedWithCode(0), "")
            << row.name;
    }
}

struct FatalRow {
    const char *name;
    int failingEvent;
    const char *trace;
};

// An event that cannot be created ends the process, naming the check.
TEST(SerialTransactionDeathTest, EventCreationFails)
{
    const FatalRow rows[] = {
        {"the read's event", 1, "assertion failed: ovSerialRead.hEvent != NULL, file atcmd/serial_transport.cpp"},
        {"the write's event", 2, "assertion failed: ov.hEvent, file atcmd/serial_transport.cpp"},
    };
    for (const FatalRow &fatal : rows) {
        Row row{fatal.name, kSerial, With({{Call::CreateEventA, fatal.failingEvent, 0, 8}}), -1, {}, {}};
        EXPECT_EXIT(RunProgram(row), testing::ExitedWithCode(255), fatal.trace) << fatal.name;
    }
}

const std::vector<std::string> kMbim = {"/mbim", "/cmd", "AT+CSQ", "/timeout", "3000"};
const char kMbimStart[] = "MbimAtCommand(), cmd[8](AT+CSQ\r\n), resp()\n";
const char kPollFailed[] = "MBIMPort_GetResponse failed, result(-5), sleep awhile and try again ...\n";
const std::string kLongFolder = "/" + std::string(249, 'd');

TEST(MbimTransaction, EveryFailurePath)
{
    const std::vector<std::string> answered = {"MBIM_DllOpen", "MBIMPort_Send AT+CSQ", "MBIMPort_GetResponse",
                                               "MBIM_DllClose"};
    const Row rows[] = {
        {"answered at the third poll", kMbim,
         With({{Call::MBIMPort_GetResponse, 1, -5, 0}, {Call::MBIMPort_GetResponse, 2, -5, 0}}), 1,
         {kMbimStart, kPollFailed, kPollFailed, "MBIMPort_GetResponse succeeded\n", "AtCommand() return 1\n"},
         {"MBIM_DllOpen", "MBIMPort_Send AT+CSQ", "MBIMPort_GetResponse", "MBIMPort_GetResponse",
          "MBIMPort_GetResponse", "MBIM_DllClose"}},
        {"no command", {"/mbim"}, Script(), 1, {"MbimAtCommand(), cmd[0](), resp()\n", "AtCommand() return 1\n"},
         {"MBIM_DllOpen", "MBIMPort_Send ", "MBIMPort_GetResponse", "MBIM_DllClose"}},
        {"no path of its own", kMbim, With({{Call::GetModuleFileNameA, 1, 0, 5}}), -1,
         {kMbimStart, "load  failed\n", "AtCommand() return -1\n"}, {}},
        {"own path cut", kMbim, RunningFrom("/" + std::string(299, 'd')), -1,
         {"load /" + std::string(258, 'd') + " failed\n", "AtCommand() return -1\n"}, {}},
        {"library path too long", kMbim, RunningFrom(kLongFolder + "/atcmd"), -1,
         {"load " + kLongFolder + " failed\n", "AtCommand() return -1\n"}, {}},
        {"library does not load", kMbim, With({{Call::LoadLibraryA, 1, 0, ERROR_MOD_NOT_FOUND}}), -1,
         {"load /opt/atcmd/MbimPortAPI.dll failed\n", "AtCommand() return -1\n"}, {}},
        {"no open", kMbim, Lacking("MBIM_DllOpen"), -1,
         {"can not find MBIM_DllOpen function\n", "AtCommand() return -1\n"}, {}},
        {"no close", kMbim, Lacking("MBIM_DllClose"), -1,
         {"can not find MBIM_DllClose function\n", "AtCommand() return -1\n"}, {}},
        {"no send", kMbim, Lacking("MBIMPort_Send"), -1,
         {"can not find MBIMPort_Send function\n", "AtCommand() return -1\n"}, {}},
        {"no get-response", kMbim, Lacking("MBIMPort_GetResponse"), -1,
         {"can not find MBIMPort_GetResponse function\n", "AtCommand() return -1\n"}, {}},
        {"open fails", kMbim, With({{Call::MBIM_DllOpen, 1, -1, 0}}), -1,
         {"MBIM_DllOpen failed, hres(-1)\n", "AtCommand() return -1\n"}, {"MBIM_DllOpen"}},
        {"open succeeds with a positive value", kMbim, With({{Call::MBIM_DllOpen, 1, 1, 0}}), 1,
         {"MBIMPort_GetResponse succeeded\n", "AtCommand() return 1\n"}, answered},
        {"send fails", kMbim, With({{Call::MBIMPort_Send, 1, 5, 0}}), -1,
         {"MBIMPort_Send failed, hres(5)\n", "AtCommand() return -1\n"}, {"MBIM_DllOpen", "MBIMPort_Send AT+CSQ",
                                                                          "MBIM_DllClose"}},
        // Polls at 0, 500, ... 2500 ms; at 3000 the limit has passed.
        {"no answer within the limit", kMbim, With({{Call::MBIMPort_GetResponse, kEveryCall, -5, 0}}), -1,
         {kPollFailed, kPollFailed, kPollFailed, kPollFailed, kPollFailed, kPollFailed, "AtCommand() return -1\n"},
         {"MBIM_DllOpen", "MBIMPort_Send AT+CSQ", "MBIMPort_GetResponse", "MBIMPort_GetResponse",
          "MBIMPort_GetResponse", "MBIMPort_GetResponse", "MBIMPort_GetResponse", "MBIMPort_GetResponse",
          "MBIM_DllClose"}},
    };
    for (const Row &row : rows)
        Check(row);
}

}  // namespace
