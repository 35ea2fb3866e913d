// The debugger channel: standard error. OutputDebugStringA gathers the
// texts traced back to back and writes them together, in one write that
// never waits; these write what is gathered.
//
// The gather keeps four promises, with one atomic word beside the bytes:
// - Whole texts, in order, each written once: one thread at a time has
//   the gather, to copy a text in or to write the texts out (the word says
//   it is had). Another thread yields meanwhile; it never waits long, as
//   neither a copy nor a write that never waits can block.
// - Never waiting on a reader: every write is one call that never waits;
//   what standard error cannot take is dropped, whole texts with it.
// - Never lost before a stop signal: the handler writes what is gathered
//   when nobody has the gather. When a thread has it (the one the handler
//   interrupted, or another), the handler cannot know how far its copy or
//   its write got; it leaves the signal in the word and returns, and that
//   thread, done, raises the signal again as it lets the gather go. The
//   handler then finds every text whole, and those written gone from it.
// - Written before a wait: a thread that traced texts writes them before it
//   blocks; texts only other threads traced stay for those threads' waits.
#pragma once

// Where the calling thread is about to block (a poll, a wait for an event,
// a sleep, a write that may stall): the texts it gathered never sit while
// it waits. A call that can wait but finds what it waits for at once
// writes nothing.
void WriteGatheredTextsBeforeWait();

// True while texts this thread traced may wait to be written.
bool HoldsGatheredTexts();

// On a way out of the process (exit, ExitProcess).
void WriteGatheredTexts();

// On a stop signal, from its handler: async-signal-safe, never waits.
// Writes every text traced before the signal and returns true; or, when a
// thread has the gather, returns false: that thread raises `signalNumber`
// again as soon as it lets the gather go.
bool WriteGatheredTextsOnSignal(int signalNumber);
