#include "list_ports.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32.h"
#include "tester.h"

namespace {

// Each list in the order /list must print it.
TEST(NaturalLess, DigitRunsCompareByValue)
{
    const std::vector<std::vector<std::string>> orders = {
        {"COM1", "COM2", "COM9", "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM100"},
        {"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM10", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB",
         "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyUSB10a"},
        {"a1b2", "a1b10", "a2b1", "a10b1"},
        {"x007", "x07", "x7", "x8"},  // equal values: still one strict order
    };
    for (const std::vector<std::string> &order : orders) {
        for (size_t i = 0; i < order.size(); ++i) {
            EXPECT_FALSE(NaturalLess(order[i], order[i])) << order[i];
            for (size_t j = i + 1; j < order.size(); ++j) {
                EXPECT_TRUE(NaturalLess(order[i], order[j])) << order[i] << " < " << order[j];
                EXPECT_FALSE(NaturalLess(order[j], order[i])) << order[j] << " !< " << order[i];
            }
        }
    }
}

struct LineRow {
    SystemSerialPort port;
    AtResult verdict;
    const char *line;
};

TEST(PortLine, FourTabSeparatedFields)
{
    const LineRow rows[] = {
        {{"/dev/ttyUSB2", "Acme LTE Modem", "2c7c:0125 if02 option", true}, 1,
         "/dev/ttyUSB2\t1\tAcme LTE Modem\t2c7c:0125 if02 option\n"},
        {{"COM5", "Acme USB AT Port (COM5)", "USB\\VID_2C7C&PID_0125&MI_02", true}, kAtTimeout,
         "COM5\t-2\tAcme USB AT Port (COM5)\tUSB\\VID_2C7C&PID_0125&MI_02\n"},
        {{"/dev/ttyS0", "serial8250", "serial8250 serial8250 port 0x3F8 irq 4", false}, kAtUndecided,
         "/dev/ttyS0\t-\tserial8250\tserial8250 serial8250 port 0x3F8 irq 4\n"},
        {{"COM3", "", "", true}, kAtFailure, "COM3\t-1\t-\t-\n"},
        // A product string is the device's to choose: it never adds a field or a line.
        {{"/dev/ttyACM0", "Evil\tModem\r\nX", "1d6b:0104 if00 cdc_acm", true}, 1,
         "/dev/ttyACM0\t1\tEvil Modem  X\t1d6b:0104 if00 cdc_acm\n"},
    };
    for (const LineRow &row : rows)
        EXPECT_EQ(PortLine(row.port, row.verdict), row.line) << row.port.name;
}

struct ResultRow {
    std::vector<AtResult> verdicts;
    bool tried;
    AtResult result;
};

TEST(PortListResult, ListedOrAnswered)
{
    const ResultRow rows[] = {
        {{}, false, kAtFailure},
        {{kAtUndecided}, false, kAtSuccess},
        {{}, true, kAtFailure},
        {{kAtUndecided, kAtTimeout, kAtFailure}, true, kAtFailure},
        {{kAtUndecided, kAtTimeout, kAtSuccess, kAtFailure}, true, kAtSuccess},
    };
    for (const ResultRow &row : rows)
        EXPECT_EQ(PortListResult(row.verdicts, row.tried), row.result) << ::testing::PrintToString(row.verdicts);
}

struct RunRow {
    const char *name;
    std::vector<std::string> args;
    std::vector<SystemSerialPort> ports;
    AtResult result;
    std::vector<std::string> traced;
    std::vector<std::string> notTraced;
};

// The whole /list run on the fake, where no thread starts.
TEST(RunPortList, ExitCodeAndWhatIsTried)
{
    const SystemSerialPort console{"/dev/ttyS0", "serial", "serial 00:00", false};
    const SystemSerialPort modem{"/dev/ttyUSB2", "Acme", "2c7c:0125 if02 option", true};
    const RunRow rows[] = {
        {"no ports", {"/list"}, {}, kAtFailure, {"port list return -1"}, {"SerialAtCommand"}},
        {"listed", {"/LIST"}, {console, modem}, kAtSuccess, {"port list return 1"}, {"set MBIM request"}},
        {"tried, no thread", {"/list", "/cmd", "AT", "/timeout", "100"}, {console, modem}, kAtFailure,
         {"can not start a thread for /dev/ttyUSB2, error: 50", "port list return -1"},
         {"/dev/ttyS0", "SerialAtCommand"}},
    };
    for (const RunRow &row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), "atcmd");
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(&arg[0]);
        fake::Script script;
        script.ports = row.ports;
        fake::Begin(script);
        TesterOptions options;
        EXPECT_EQ(RunTester(static_cast<int>(argv.size()), argv.data(), options), row.result) << row.name;
        std::string traces = fake::Traced();
        for (const std::string &text : row.traced)
            EXPECT_NE(traces.find(text), std::string::npos) << row.name << ": " << traces;
        for (const std::string &text : row.notTraced)
            EXPECT_EQ(traces.find(text), std::string::npos) << row.name << ": " << traces;
        EXPECT_EQ(fake::Recorded().handlesHeld, 0) << row.name;
    }
}

}  // namespace
