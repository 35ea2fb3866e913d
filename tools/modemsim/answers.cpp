#include "answers.h"

#include <cctype>
#include <cstdlib>

namespace {

const char kOk[] = "\r\nOK\r\n";
const char kError[] = "\r\nERROR\r\n";

std::string Upper(const std::string &text)
{
    std::string upper;
    for (unsigned char c : text)
        upper += static_cast<char>(toupper(c));
    return upper;
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsNumber(const std::string &text)
{
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        if (!isdigit(c))
            return false;
    }
    return true;
}

std::string CmeError(const std::string &code)
{
    return "\r\n+CME ERROR: " + code + "\r\n";
}

struct FixedAnswer {
    const char *command;
    const char *answer;
};

const FixedAnswer kFixedAnswers[] = {
    {"AT", kOk},
    {"ATZ", kOk},
    {"ATI", "\r\nModemSim\r\nMS-100\r\nRevision: MS100_01.002\r\n\r\nOK\r\n"},
    {"AT+CGMI", "\r\nModemSim\r\n\r\nOK\r\n"},
    {"AT+CGMM", "\r\nMS-100\r\n\r\nOK\r\n"},
    {"AT+CGMR", "\r\nMS100_01.002\r\n\r\nOK\r\n"},
    {"AT+CSQ", "\r\n+CSQ: 21,99\r\n\r\nOK\r\n"},
    {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
    {"AT+CREG?", "\r\n+CREG: 2,1,\"1234\",\"001122BB\"\r\n\r\nOK\r\n"},
    {"AT+CFUN?", "\r\n+CFUN: 1\r\n\r\nOK\r\n"},
    {"AT+CFUN=0", kOk},
    {"AT+CFUN=1", kOk},
    {"AT+CFUN=4", kOk},
    {"AT+CFUN=99", "\r\n+CME ERROR: 10\r\n"},
};

}  // namespace

const char kBuiltInCommandsHelp[] =
    "Built-in answers (commands compared ignoring case):\n"
    "  AT, ATZ             OK\n"
    "  ATE0, ATE1          echo off, on; OK\n"
    "  ATI                 three information lines, OK\n"
    "  AT+CGMI, AT+CGMM, AT+CGMR   manufacturer, model, revision; OK\n"
    "  AT+CSQ              +CSQ: 21,99 and OK\n"
    "  AT+CPIN?            +CPIN: READY and OK\n"
    "  AT+CREG?            +CREG: 2,1,\"1234\",\"001122BB\" and OK\n"
    "  AT+CFUN?            +CFUN: 1 and OK\n"
    "  AT+CFUN=0|1|4       OK\n"
    "  AT+CFUN=99          +CME ERROR: 10\n"
    "  AT+CMEE=<anything>  OK\n"
    "  AT+CME=<n>          +CME ERROR: <n> (test command)\n"
    "  anything else       ERROR\n"
    "An empty command line gets no answer.\n";

std::string BuiltInAnswer(const std::string &command, ModemState &state)
{
    std::string upper = Upper(command);
    if (upper.empty())
        return "";
    for (const FixedAnswer &entry : kFixedAnswers) {
        if (upper == entry.command)
            return entry.answer;
    }
    if (upper == "ATE0" || upper == "ATE1") {
        state.echo = upper == "ATE1";
        return kOk;
    }
    if (StartsWith(upper, "AT+CMEE="))
        return kOk;
    if (StartsWith(upper, "AT+CME=") && IsNumber(upper.substr(7)))
        return CmeError(upper.substr(7));
    return kError;
}
