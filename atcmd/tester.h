// The command line and the run flow: one transaction per run.
#pragma once

#include <cstdint>
#include <string>

#include "at_result.h"
#include "win32.h"

// What the command line asked for.
struct TesterOptions {
    std::string portName;  // /port
    std::string command;   // /cmd, with "\r\n" appended
    std::string response;  // /resp, a regular expression
    int32_t timeoutMs = 0;  // /timeout, 0 for no limit
    int useMbim = 0;        // /mbim
    int listPorts = 0;      // /list
};

// Fills `options` from the command line. Option names are matched ignoring
// case; other arguments are skipped. Returns 0, or -1 (traced) when a
// value-taking option is the last argument.
int ParseCommandLine(int argc, char **argv, TesterOptions &options);

// The leading decimal integer of `text` (white space and a sign allowed),
// saturated to the signed 32-bit range; 0 when there are no digits.
int32_t ParseTimeout(const char *text);

// Selects the transport of the next AtCommand: 0 serial, nonzero MBIM.
void SetMbimRequest(uint8_t flag);

// Runs one AT transaction over the selected transport. `timeout` in ms,
// 0 for no limit. `portname` is unused by the MBIM transport.
AtResult AtCommand(const char *portname, const char *cmd, const char *resp, DWORD timeout);

// The whole run: parse, select the transport, one transaction, its result.
int RunTester(int argc, char **argv, TesterOptions &options);
