#include "bounded_writer.h"

#include <deque>
#include <string>

#include "handle_guard.h"
#include "write_all.h"

namespace {

class Locked {
public:
    explicit Locked(CRITICAL_SECTION &lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    CRITICAL_SECTION &lock_;
};

}  // namespace

// What the caller's thread and the writing thread share, under one lock.
class BoundedWriter::Shared {
public:
    // The events only for a writing thread.
    Shared(HANDLE output, Loss loss, std::size_t heldLimit, bool withEvents)
        : output_(output), loss_(loss), heldLimit_(heldLimit),
          handedOver_(withEvents ? CreateEventA(NULL, FALSE, FALSE, NULL) : NULL),
          allWritten_(withEvents ? CreateEventA(NULL, TRUE, TRUE, NULL) : NULL)
    {
        InitializeCriticalSection(&lock_);
    }
    ~Shared() { DeleteCriticalSection(&lock_); }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    bool HasEvents() const { return handedOver_.get() != NULL && allWritten_.get() != NULL; }

    void Put(const char *bytes, std::size_t count)
    {
        Locked locked(lock_);
        if (cut_ || (!held_.empty() && heldBytes_ + count > heldLimit_)) {
            LoseLocked(1);
            return;
        }
        // Only a writer that found nothing waits for the event; bytes added
        // to what is held ride along.
        bool wake = held_.empty();
        if (loss_ == Loss::CutStream && !held_.empty())
            held_.back().append(bytes, count);
        else
            held_.emplace_back(bytes, count);
        heldBytes_ += count;
        if (wake) {
            ResetEvent(allWritten_.get());
            SetEvent(handedOver_.get());
        }
    }

    // Writes on the caller's thread, losing by the same rule as the thread.
    void WriteInLine(const char *bytes, std::size_t count)
    {
        Locked locked(lock_);
        if (cut_ || !WriteAll(output_, bytes, count))
            LoseLocked(1);
    }

    // The writing thread's loop; it never returns.
    void WriteForever()
    {
        std::string taken;
        for (;;) {
            WaitForSingleObject(handedOver_.get(), INFINITE);
            while (TakeNext(taken)) {
                bool whole = WriteAll(output_, taken.data(), taken.size());
                Written(whole);
            }
        }
    }

    // How long a finish still waits for the output: 0 once everything is
    // written, the limit is reached, or the current write has stalled.
    DWORD FinishWait(const Deadline &limit, DWORD stallMs)
    {
        Locked locked(lock_);
        if (held_.empty() && !writing_)
            return 0;
        DWORD now = GetTickCount();
        DWORD wait = limit.Remaining(now);
        if (writing_ && stallMs != 0) {
            DWORD stall = Deadline(writeStarted_, stallMs).Remaining(now);
            wait = stall < wait ? stall : wait;
        }
        return wait;
    }

    // False when the wait failed: waiting again would only spin.
    bool WaitUntilWritten(DWORD milliseconds)
    {
        return WaitForSingleObject(allWritten_.get(), milliseconds) != WAIT_FAILED;
    }

    // Drops what waits or is being written; returns the texts dropped in all.
    unsigned long long GiveUp()
    {
        Locked locked(lock_);
        LoseLocked(writing_ ? 1 : 0);
        DropHeldLocked();
        return dropped_;
    }

private:
    // Moves the next text, or all held bytes of a stream, into `taken`;
    // false, with everything written signalled, when nothing waits.
    bool TakeNext(std::string &taken)
    {
        Locked locked(lock_);
        if (held_.empty()) {
            SetEvent(allWritten_.get());
            return false;
        }
        taken.swap(held_.front());
        held_.pop_front();
        heldBytes_ -= taken.size();
        writing_ = true;
        writeStarted_ = GetTickCount();
        return true;
    }

    void Written(bool whole)
    {
        Locked locked(lock_);
        writing_ = false;
        if (whole)
            return;
        LoseLocked(1);
        if (cut_)
            DropHeldLocked();  // it all comes after the bytes lost
    }

    // Counts `texts` lost; a stream is cut there: nothing after them goes out.
    void LoseLocked(std::size_t texts)
    {
        dropped_ += texts;
        if (texts != 0 && loss_ == Loss::CutStream)
            cut_ = true;
    }

    void DropHeldLocked()
    {
        LoseLocked(held_.size());
        held_.clear();
        heldBytes_ = 0;
    }

    HANDLE output_;
    Loss loss_;
    std::size_t heldLimit_;
    HandleGuard handedOver_;  // auto-reset: something waits to be written
    HandleGuard allWritten_;  // manual-reset: nothing waits or is being written
    CRITICAL_SECTION lock_;
    std::deque<std::string> held_;  // a stream's bytes as one piece, or texts
    std::size_t heldBytes_ = 0;
    bool writing_ = false;
    DWORD writeStarted_ = 0;
    bool cut_ = false;
    unsigned long long dropped_ = 0;
};

BoundedWriter::BoundedWriter(HANDLE output, Loss loss, std::size_t heldLimit, Writing writing)
    : shared_(std::make_shared<Shared>(output, loss, heldLimit, writing == Writing::OwnThread)),
      inLine_(writing == Writing::InLine)
{
    if (inLine_)
        return;
    std::unique_ptr<std::shared_ptr<Shared>> share(new std::shared_ptr<Shared>(shared_));
    HANDLE thread = shared_->HasEvents() ? CreateThread(NULL, 0, Run, share.get(), 0, NULL) : NULL;
    if (thread == NULL) {
        shared_.reset();  // its events are closed with the share
        return;
    }
    share.release();  // now the thread's
    CloseHandle(thread);
}

// The thread is never ended: it waits, or is held in a write, until the
// process ends. A thread that returned could end the process with its own
// exit code 0 if it were the last one left while the process ends (seen
// with Wine 10: atcmd-trace's exit code lost).
DWORD WINAPI BoundedWriter::Run(LPVOID shared)
{
    std::unique_ptr<std::shared_ptr<Shared>> owner(static_cast<std::shared_ptr<Shared> *>(shared));
    (*owner)->WriteForever();
    return 0;
}

void BoundedWriter::Put(const char *bytes, std::size_t count)
{
    if (shared_ == nullptr) {
        ++droppedWithoutThread_;
        return;
    }
    if (inLine_)
        shared_->WriteInLine(bytes, count);
    else
        shared_->Put(bytes, count);
}

unsigned long long BoundedWriter::Finish(const Deadline &limit, DWORD stallMs)
{
    if (shared_ == nullptr)
        return droppedWithoutThread_;
    for (;;) {
        DWORD wait = shared_->FinishWait(limit, stallMs);
        if (wait == 0 || !shared_->WaitUntilWritten(wait))
            return shared_->GiveUp();
    }
}
