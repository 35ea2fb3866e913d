// A terminal's close that never waits on the driver for long.
#pragma once

// The bound: a close still inside the driver after this long is
// interrupted, and again as often until it returns.
const long kCloseBoundMs = 100;

// Once, by the process's set-up, before any port opens: the handler of the
// signal that interrupts a close, for the rest of the process.
void PrepareBoundedClose();

// Closes `fd` once. A USB serial driver holds close() up to its
// closing_wait (30 s) for output that a frozen modem never takes; that wait
// ends on a signal, so a timer aimed at this thread alone interrupts it
// after kCloseBoundMs. What was stuck is dropped by the driver's shutdown.
// Async-signal-safe; no timer or signal mask outlives the call.
void CloseWithinBound(int fd);
