// The result of one AT transaction, and the process exit code; also the
// verdict of a scan of the answer and of one pass of the read loop, where
// kAtUndecided says that nothing decisive has come yet.
#pragma once

typedef int AtResult;

const AtResult kAtSuccess = 1;   // expected response seen (serial), answer delivered (MBIM)
const AtResult kAtFailure = -1;  // failure of any kind
const AtResult kAtTimeout = -2;  // the time limit ran out (serial only)
const AtResult kAtUndecided = 0;  // no verdict yet: the transaction reads on
