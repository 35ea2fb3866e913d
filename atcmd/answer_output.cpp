#include "answer_output.h"

#include <memory>
#include <string>

#include "handle_guard.h"
#include "write_all.h"

namespace {

// Takes the bytes from the transaction and writes them from its own thread.
// Once started it lives as long as the process: when the program ends, its
// thread may still be in a write that a stalled reader holds.
class AnswerWriter {
public:
    explicit AnswerWriter(HANDLE output)
        : output_(output), handedOver_(CreateEventA(NULL, FALSE, FALSE, NULL)),
          allWritten_(CreateEventA(NULL, TRUE, TRUE, NULL))
    {
        InitializeCriticalSection(&lock_);
    }
    // Only for a writer whose thread never started.
    ~AnswerWriter() { DeleteCriticalSection(&lock_); }
    AnswerWriter(const AnswerWriter &) = delete;
    AnswerWriter &operator=(const AnswerWriter &) = delete;

    // Starts the thread; false when it or its events could not be made.
    bool Start()
    {
        if (handedOver_.get() == NULL || allWritten_.get() == NULL)
            return false;
        HANDLE thread = CreateThread(NULL, 0, Run, this, 0, NULL);
        if (thread == NULL)
            return false;
        CloseHandle(thread);
        return true;
    }

    void Put(const char *bytes, DWORD count)
    {
        EnterCriticalSection(&lock_);
        if (cut_ || held_.size() + count > kAnswerHeldLimit) {
            cut_ = true;
        } else {
            // Bytes already held wake the writer once; it takes all there is.
            bool wake = held_.empty();
            held_.append(bytes, count);
            if (wake) {
                ResetEvent(allWritten_.get());
                SetEvent(handedOver_.get());
            }
        }
        LeaveCriticalSection(&lock_);
    }

    void WaitUntilWritten(DWORD milliseconds) { WaitForSingleObject(allWritten_.get(), milliseconds); }

private:
    static DWORD WINAPI Run(LPVOID writer)
    {
        static_cast<AnswerWriter *>(writer)->WriteForever();
        return 0;
    }

    void WriteForever()
    {
        std::string taken;
        for (;;) {
            WaitForSingleObject(handedOver_.get(), INFINITE);
            while (TakeHeld(taken)) {
                // A failed write (the reader is gone) drops this and the rest.
                broken_ = broken_ || !WriteAll(output_, taken.data(), taken.size());
            }
        }
    }

    // Moves what is held into `taken`; false, with everything written
    // signalled, when nothing is.
    bool TakeHeld(std::string &taken)
    {
        EnterCriticalSection(&lock_);
        taken.clear();
        taken.swap(held_);
        if (taken.empty())
            SetEvent(allWritten_.get());
        LeaveCriticalSection(&lock_);
        return !taken.empty();
    }

    HANDLE output_;
    HandleGuard handedOver_;  // auto-reset: bytes are waiting
    HandleGuard allWritten_;  // manual-reset: nothing is waiting or being written
    CRITICAL_SECTION lock_;
    std::string held_;
    bool cut_ = false;
    bool broken_ = false;
};

// Standard output as the first bytes find it. A file on disk takes every
// write at once, whoever reads it, so it is written in line; anything else
// (a pipe, a terminal) may stall and gets the one writer thread. None
// without a standard output (a Windows program started with none), or when
// no thread can be started for it: the answer is then lost, the verdict is
// not.
struct {
    bool looked = false;
    HANDLE inLine = NULL;
    bool inLineBroken = false;
    AnswerWriter *writer = nullptr;
} theOutput;

void LookAtOutput()
{
    theOutput.looked = true;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == NULL || output == INVALID_HANDLE_VALUE)
        return;
    if (GetFileType(output) == FILE_TYPE_DISK) {
        theOutput.inLine = output;
        return;
    }
    std::unique_ptr<AnswerWriter> writer(new AnswerWriter(output));
    if (writer->Start())
        theOutput.writer = writer.release();
}

}  // namespace

void WriteAnswer(const char *bytes, DWORD count)
{
    if (count == 0)
        return;
    if (!theOutput.looked)
        LookAtOutput();
    if (theOutput.inLine != NULL) {
        // A failed write (a full disk) drops this and the rest: cut, never holed.
        theOutput.inLineBroken = theOutput.inLineBroken || !WriteAll(theOutput.inLine, bytes, count);
    } else if (theOutput.writer != nullptr) {
        theOutput.writer->Put(bytes, count);
    }
}

void FinishAnswer(const Deadline &deadline)
{
    AnswerWriter *writer = theOutput.writer;
    if (writer == nullptr)
        return;
    DWORD wait = deadline.Remaining(GetTickCount());
    writer->WaitUntilWritten(wait < kAnswerGraceMs ? kAnswerGraceMs : wait);
}
