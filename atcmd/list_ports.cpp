#include "list_ports.h"

#include <algorithm>
#include <cctype>

#include "answer_output.h"
#include "port_probe.h"
#include "tester.h"
#include "trace.h"

namespace {

bool IsDigit(char c)
{
    return isdigit(static_cast<unsigned char>(c)) != 0;
}

// Compares the digit runs starting at `a` and `b` by value: <0, 0, >0.
// Both indexes are moved past their runs.
int CompareNumbers(const std::string &a, size_t &i, const std::string &b, size_t &j)
{
    while (i + 1 < a.size() && a[i] == '0' && IsDigit(a[i + 1]))
        ++i;
    while (j + 1 < b.size() && b[j] == '0' && IsDigit(b[j + 1]))
        ++j;
    size_t aEnd = i, bEnd = j;
    while (aEnd < a.size() && IsDigit(a[aEnd]))
        ++aEnd;
    while (bEnd < b.size() && IsDigit(b[bEnd]))
        ++bEnd;
    int order = aEnd - i != bEnd - j ? (aEnd - i < bEnd - j ? -1 : 1) : a.compare(i, aEnd - i, b, j, bEnd - j);
    i = aEnd;
    j = bEnd;
    return order;
}

std::string Field(const std::string &text)
{
    if (text.empty())
        return "-";
    std::string field = text;
    std::replace_if(field.begin(), field.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return field;
}

}  // namespace

bool NaturalLess(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            int order = CompareNumbers(a, i, b, j);
            if (order != 0)
                return order < 0;
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;  // equal but for leading zeros: still one order
}

std::string PortLine(const SystemSerialPort &port, AtResult verdict)
{
    std::string verdictField = verdict == kAtUndecided ? "-" : std::to_string(verdict);
    return Field(port.name) + "\t" + verdictField + "\t" + Field(port.description) + "\t" + Field(port.identity) +
           "\n";
}

AtResult PortListResult(const std::vector<AtResult> &verdicts, bool tried)
{
    if (!tried)
        return verdicts.empty() ? kAtFailure : kAtSuccess;
    return std::count(verdicts.begin(), verdicts.end(), kAtSuccess) > 0 ? kAtSuccess : kAtFailure;
}

AtResult RunPortList(const TesterOptions &options)
{
    std::vector<SystemSerialPort> ports = ListSystemSerialPorts();
    std::stable_sort(ports.begin(), ports.end(),
                     [](const SystemSerialPort &a, const SystemSerialPort &b) { return NaturalLess(a.name, b.name); });
    const bool tried = !options.command.empty();
    const DWORD timeout = static_cast<DWORD>(options.timeoutMs);
    Deadline bound(GetTickCount(), ProbeBoundMs(timeout));
    ProbeOutcome outcome = tried ? ProbePorts(ports, options.command.c_str(), options.response.c_str(), timeout, bound)
                                 : ProbeOutcome{std::vector<AtResult>(ports.size(), kAtUndecided), false};
    for (size_t i = 0; i < ports.size(); ++i) {
        std::string line = PortLine(ports[i], outcome.verdicts[i]);
        WriteAnswer(line.data(), static_cast<DWORD>(line.size()));
    }
    FinishAnswer(tried ? bound : Deadline(GetTickCount(), 0));
    AtResult result = PortListResult(outcome.verdicts, tried);
    DebugTrace("port list return %d\n", result);
    // A transaction still running past its bound holds its port: the
    // process ends now, and with it the transaction.
    if (outcome.overran)
        ExitProcess(static_cast<UINT>(result));
    return result;
}
