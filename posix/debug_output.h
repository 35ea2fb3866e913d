// The debugger channel: standard error. OutputDebugStringA gathers the
// texts traced back to back and writes them together, in one write that
// never waits; these write what is gathered.
#pragma once

// Where the calling thread is about to block (a poll, a wait for an event,
// a sleep, a write that may stall): the texts it gathered never sit while
// it waits. Texts only other threads gathered stay for their waits. A call
// that can wait but finds what it waits for at once writes nothing.
void WriteGatheredTextsBeforeWait();

// True while texts this thread gathered wait to be written.
bool HoldsGatheredTexts();

// On a way out of the process (exit, ExitProcess).
void WriteGatheredTexts();

// On a stop signal, from its handler: async-signal-safe, never waits. A
// text being gathered at that moment is left out; those before it go.
void WriteGatheredTextsOnSignal();
