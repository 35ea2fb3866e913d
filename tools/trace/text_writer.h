// Writing texts to one output from a thread of its own, so that the thread
// that hands them over never waits for the output: a reader that stops
// reading costs texts, never time.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "handle_guard.h"

class TextWriter {
public:
    // The queue holds at most this many bytes of texts; an empty queue
    // takes one text of any size.
    static const std::size_t kQueueBytes = 1u << 20;
    // Finish() stops waiting once one write has taken this long (the
    // output does not take it), and after kFinishMilliseconds in all. A
    // text waiting for the thread to be scheduled is no stall: on a busy
    // machine that takes long too.
    static const DWORD kStallMilliseconds = 250;
    static const DWORD kFinishMilliseconds = 2000;

    explicit TextWriter(HANDLE output);
    ~TextWriter();
    TextWriter(const TextWriter &) = delete;
    TextWriter &operator=(const TextWriter &) = delete;

    // Queues `text` to be written whole, after the texts added before it.
    // Never waits for the output: a text the queue has no room for is
    // dropped.
    void Add(std::string text);

    // Waits for the queued texts to be written, as described at
    // kStallMilliseconds, then gives up on the rest. Returns how many texts
    // were dropped in all: no room in the queue, a failed or unfinished
    // write, or still queued.
    unsigned long long Finish();

private:
    struct State;
    // The writing thread, with its own share of the state; NULL when it
    // cannot be started (then Add writes at once).
    static HANDLE Start(const std::shared_ptr<State> &state);
    static DWORD WINAPI Run(LPVOID state);

    // Shared with the thread, which may still be held in a write to a
    // stalled output when this object is gone: the process ends it.
    std::shared_ptr<State> state_;
    HandleGuard thread_;
};
