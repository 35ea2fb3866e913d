#include "tester.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fake_win32.h"

namespace {

struct Parsed {
    int status;
    TesterOptions options;
};

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "atcmd");
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    Parsed parsed;
    fake::Begin({});
    parsed.status = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options);
    return parsed;
}

TEST(ParseCommandLine, FullCommandLine)
{
    Parsed p = Parse({"/port", "COM3", "/cmd", "AT", "/resp", "OK", "/timeout", "3000"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.portName, "COM3");
    EXPECT_EQ(p.options.command, "AT\r\n");
    EXPECT_EQ(p.options.response, "OK");
    EXPECT_EQ(p.options.timeoutMs, 3000);
    EXPECT_EQ(p.options.useMbim, 0);
}

TEST(ParseCommandLine, NoArgumentsKeepsDefaults)
{
    Parsed p = Parse({});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.portName, "");
    EXPECT_EQ(p.options.command, "");
    EXPECT_EQ(p.options.timeoutMs, 0);
}

TEST(ParseCommandLine, OptionNamesIgnoreCase)
{
    Parsed p = Parse({"/MBIM", "/Port", "COM4", "/TIMEOUT", "10", "/CmD", "ATI", "/LiSt"});
    EXPECT_EQ(p.options.useMbim, 1);
    EXPECT_EQ(p.options.listPorts, 1);
    EXPECT_EQ(p.options.portName, "COM4");
    EXPECT_EQ(p.options.timeoutMs, 10);
    EXPECT_EQ(p.options.command, "ATI\r\n");
}

TEST(ParseCommandLine, ValueIsTakenWhateverItLooksLike)
{
    Parsed p = Parse({"/port", "/cmd", "AT"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.portName, "/cmd");
    EXPECT_EQ(p.options.command, "");
}

TEST(ParseCommandLine, LaterOccurrenceReplaces)
{
    Parsed p = Parse({"/cmd", "AT", "/cmd", "ATI", "/port", "a", "/port", "b"});
    EXPECT_EQ(p.options.command, "ATI\r\n");
    EXPECT_EQ(p.options.portName, "b");
}

TEST(ParseCommandLine, OtherArgumentsSkipped)
{
    Parsed p = Parse({"junk", "/resp", "O*K?", "-port", "/mbimx", "/lists"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.response, "O*K?");
    EXPECT_EQ(p.options.portName, "");
    EXPECT_EQ(p.options.useMbim, 0);
    EXPECT_EQ(p.options.listPorts, 0);
}

TEST(ParseCommandLine, ValueTakingOptionAtEndFails)
{
    for (const char *option : {"/port", "/cmd", "/resp", "/timeout", "/TIMEOUT"}) {
        Parsed p = Parse({"/mbim", option});
        EXPECT_EQ(p.status, -1) << option;
    }
}

struct TimeoutCase {
    const char *text;
    int32_t value;
};

TEST(ParseTimeout, LeadingInteger)
{
    const int32_t kMax = std::numeric_limits<int32_t>::max();
    const int32_t kMin = std::numeric_limits<int32_t>::min();
    const TimeoutCase cases[] = {
        {"3000", 3000},
        {"  42", 42},
        {"+7", 7},
        {"-1", -1},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"99999999999999999999999", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"-99999999999999999999999", kMin},
    };
    for (const TimeoutCase &c : cases)
        EXPECT_EQ(ParseTimeout(c.text), c.value) << '"' << c.text << '"';
}

TEST(RunTester, MissingValueTouchesNoPort)
{
    TesterOptions options;
    std::vector<std::string> args = {"atcmd", "/cmd", "AT", "/port"};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    fake::Begin({});
    int result = RunTester(static_cast<int>(argv.size()), argv.data(), options);
    std::string traces = fake::Traced();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(traces.find("SerialAtCommand"), std::string::npos) << traces;
    EXPECT_NE(traces.find("needs a value"), std::string::npos) << traces;
}

}  // namespace
