// The result of one AT transaction, and the process exit code.
#pragma once

typedef int AtResult;

const AtResult kAtSuccess = 1;   // expected response seen (serial), answer delivered (MBIM)
const AtResult kAtFailure = -1;  // failure of any kind
const AtResult kAtTimeout = -2;  // the time limit ran out (serial only)
