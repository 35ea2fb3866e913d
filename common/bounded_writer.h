// One output written by a thread of its own, so that the thread that hands
// bytes over never waits for the output: a reader that stops reading costs
// bytes, never time; or, for an output that never stalls (a file on disk),
// written in line. Either way the same rule decides what is lost. atcmd's
// answer and atcmd-trace's outputs use it.
#pragma once

#include <cstddef>
#include <memory>

#include "deadline.h"
#include "win32.h"

class BoundedWriter {
public:
    // What happens to bytes that are lost: they find no room (heldLimit
    // bytes already wait), or their write fails (the reader is gone).
    enum class Loss {
        // A byte stream: what is lost and everything after it is dropped, so
        // the output is cut, never holed. Waiting bytes go out in one write.
        CutStream,
        // Separate texts: a lost text is dropped and counted, the others
        // still go out, each whole in a write of its own.
        DropText,
    };

    // Who writes: a thread of its own, or the caller's thread at once.
    enum class Writing { OwnThread, InLine };

    // Starts the writing thread. When it (or its events) cannot be made,
    // everything handed over is dropped: nothing is ever written by the
    // caller's thread, which a stalled output would hold. In line, no
    // thread is started and nothing is held.
    BoundedWriter(HANDLE output, Loss loss, std::size_t heldLimit, Writing writing = Writing::OwnThread);
    BoundedWriter(const BoundedWriter &) = delete;
    BoundedWriter &operator=(const BoundedWriter &) = delete;

    // Hands over one text, or the stream's next bytes; never waits, unless
    // written in line. Bytes wait while they fit in heldLimit; with nothing
    // waiting, one text of any size fits.
    void Put(const char *bytes, std::size_t count);

    // Waits until everything handed over is written, or until `limit` is
    // reached, or (stallMs not 0) once one write has been held stallMs: the
    // output does not take it. What is not written by then is given up.
    // Returns how many texts were dropped in all.
    unsigned long long Finish(const Deadline &limit, DWORD stallMs);

private:
    class Shared;
    static DWORD WINAPI Run(LPVOID shared);

    // Shared with the thread, which never ends and may be held in a write to
    // a stalled output when this object is gone: the process ends it. NULL
    // when no thread could be started.
    std::shared_ptr<Shared> shared_;
    bool inLine_;
    unsigned long long droppedWithoutThread_ = 0;
};
