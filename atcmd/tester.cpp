#include "tester.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "mbim_transport.h"
#include "list_ports.h"
#include "serial_transport.h"
#include "trace.h"

namespace {

uint8_t mbimRequest = 0;

enum class Option { Mbim, Port, Cmd, Resp, Timeout, List, None };

struct OptionName {
    const char *name;
    Option option;
};

// Compared in this order; the first equal one applies.
const OptionName kOptionNames[] = {
    {"/mbim", Option::Mbim},
    {"/port", Option::Port},
    {"/cmd", Option::Cmd},
    {"/resp", Option::Resp},
    {"/timeout", Option::Timeout},
    {"/list", Option::List},
};

bool EqualIgnoringCase(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

Option FindOption(const char *argument)
{
    for (const OptionName &entry : kOptionNames) {
        if (EqualIgnoringCase(argument, entry.name))
            return entry.option;
    }
    return Option::None;
}

void StoreValue(Option option, const char *value, TesterOptions &options)
{
    switch (option) {
    case Option::Port:
        options.portName = value;
        break;
    case Option::Cmd:
        options.command = std::string(value) + "\r\n";
        break;
    case Option::Resp:
        options.response = value;
        break;
    case Option::Timeout:
        options.timeoutMs = ParseTimeout(value);
        break;
    case Option::Mbim:
    case Option::List:
    case Option::None:
        break;
    }
}

}  // namespace

int ParseCommandLine(int argc, char **argv, TesterOptions &options)
{
    for (int i = 1; i < argc; ++i) {
        Option option = FindOption(argv[i]);
        if (option == Option::None)
            continue;
        if (option == Option::Mbim) {
            options.useMbim = 1;
            continue;
        }
        if (option == Option::List) {
            options.listPorts = 1;
            continue;
        }
        if (i + 1 >= argc) {
            DebugTrace("option %s needs a value\n", argv[i]);
            return -1;
        }
        StoreValue(option, argv[++i], options);
    }
    return 0;
}

int32_t ParseTimeout(const char *text)
{
    const int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t kMin = std::numeric_limits<int32_t>::min();
    while (isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    int64_t magnitude = 0;
    for (; isdigit(static_cast<unsigned char>(*text)); ++text) {
        if (magnitude <= kMax + 1)  // past both bounds already: stop growing
            magnitude = magnitude * 10 + (*text - '0');
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > kMax)
        return static_cast<int32_t>(kMax);
    if (value < kMin)
        return static_cast<int32_t>(kMin);
    return static_cast<int32_t>(value);
}

void SetMbimRequest(uint8_t flag)
{
    DebugTrace("set MBIM request: %d\n", flag);
    mbimRequest = flag;
}

AtResult AtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout)
{
    if (mbimRequest == 0)
        return SerialAtCommand(portname, cmd, resp, timeout);
    return MbimAtCommand(cmd, resp, timeout);
}

int RunTester(int argc, char **argv, TesterOptions &options)
{
    if (ParseCommandLine(argc, argv, options) < 0)
        return kAtFailure;
    if (options.listPorts)
        return RunPortList(options);
    SetMbimRequest(static_cast<uint8_t>(options.useMbim));
    AtResult result = AtCommand(options.portName.c_str(), options.command.c_str(),
                                options.response.c_str(), static_cast<DWORD>(options.timeoutMs));
    DebugTrace("AtCommand() return %d\n", result);
    return result;
}
