// Every port tried at once: the serial transaction on each port that may
// be tried, each on a thread of its own, its answer going nowhere and its
// traces naming the port.
#pragma once

#include <vector>

#include "at_result.h"
#include "deadline.h"
#include "serial_transport.h"
#include "system_ports.h"

// How long all of them together may take: the write limit, `timeout`,
// and kProbeGraceMs for opening, retiring the last read and closing.
// 0 (no bound) when `timeout` is 0 (no limit) or the sum does not fit.
DWORD ProbeBoundMs(DWORD timeout);

const DWORD kProbeGraceMs = 500;

struct ProbeOutcome {
    std::vector<AtResult> verdicts;  // one a port; kAtUndecided: not tried
    bool overran;                    // a transaction was still running at the bound
};

// Tries every port whose mayProbe is set, and waits for each until
// `bound`; one still running then counts as kAtTimeout.
ProbeOutcome ProbePorts(const std::vector<SystemSerialPort> &ports, const char *cmd, const char *resp, DWORD timeout,
                        const Deadline &bound);
