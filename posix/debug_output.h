// The debugger channel: standard error. OutputDebugStringA gathers the
// texts traced back to back and writes them together, in one write that
// never waits; these write what is gathered.
#pragma once

// Before the calling thread may wait: the texts it gathered never sit
// while it waits. Texts only other threads gathered stay for their waits.
void WriteGatheredTextsBeforeWait();

// On a way out of the process (exit, ExitProcess).
void WriteGatheredTexts();

// On a stop signal, from its handler: async-signal-safe, never waits. A
// text being gathered at that moment is left out; those before it go.
void WriteGatheredTextsOnSignal();
