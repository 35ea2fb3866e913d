// Writing texts to one of atcmd-trace's outputs from a thread of its own, so
// that the thread that hands them over never waits for the output: a reader
// that stops reading costs texts, never time.
#pragma once

#include <windows.h>

#include <string>

#include "bounded_writer.h"

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

    explicit TextWriter(HANDLE output) : writer_(output, BoundedWriter::Loss::DropText, kQueueBytes) {}

    // Queues `text` to be written whole, after the texts added before it.
    // Never waits for the output: a text the queue has no room for is
    // dropped, and so is every text when no thread could be started.
    void Add(const std::string &text) { writer_.Put(text.data(), text.size()); }

    // Waits for the queued texts to be written, as described at
    // kStallMilliseconds, then gives up on the rest. Returns how many texts
    // were dropped in all: no room in the queue, no thread, a failed or
    // unfinished write, or still queued.
    unsigned long long Finish()
    {
        return writer_.Finish(Deadline(GetTickCount(), kFinishMilliseconds), kStallMilliseconds);
    }

private:
    BoundedWriter writer_;
};
