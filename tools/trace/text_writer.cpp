#include "text_writer.h"

#include <deque>

#include "text_output.h"

struct TextWriter::State {
    explicit State(HANDLE output) : output(output) {}

    HANDLE output;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;  // a text added or written
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    bool writing = false;           // the thread holds a text it has not written yet
    ULONGLONG writeStarted = 0;     // when it began writing that text
    unsigned long long dropped = 0;
};

namespace {

class LockGuard {
public:
    explicit LockGuard(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~LockGuard() { ReleaseSRWLockExclusive(&lock_); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

private:
    SRWLOCK &lock_;
};

}  // namespace

TextWriter::TextWriter(HANDLE output) : state_(std::make_shared<State>(output)), thread_(Start(state_)) {}

HANDLE TextWriter::Start(const std::shared_ptr<State> &state)
{
    std::unique_ptr<std::shared_ptr<State>> share(new std::shared_ptr<State>(state));
    HANDLE thread = CreateThread(NULL, 0, Run, share.get(), 0, NULL);
    if (thread != NULL)
        share.release();  // now the thread frees it
    return thread;
}

// The thread is not ended: it waits, or is held in a write, until the
// process ends. A thread that returned could end the process with its own
// exit code 0 if it were the last one left while the process ends (seen
// with Wine 10: atcmd-trace's exit code lost).
TextWriter::~TextWriter() = default;

void TextWriter::Add(std::string text)
{
    if (thread_.get() == NULL) {
        // No thread of its own: written here, as it comes.
        if (!WriteText(state_->output, text))
            ++state_->dropped;
        return;
    }
    LockGuard guard(state_->lock);
    if (!state_->queue.empty() && state_->queuedBytes + text.size() > kQueueBytes) {
        ++state_->dropped;
        return;
    }
    state_->queuedBytes += text.size();
    state_->queue.push_back(std::move(text));
    WakeAllConditionVariable(&state_->changed);
}

unsigned long long TextWriter::Finish()
{
    State &state = *state_;
    LockGuard guard(state.lock);
    ULONGLONG finishEnd = GetTickCount64() + kFinishMilliseconds;
    while (!state.queue.empty() || state.writing) {
        ULONGLONG now = GetTickCount64();
        ULONGLONG end = finishEnd;
        if (state.writing && state.writeStarted + kStallMilliseconds < end)
            end = state.writeStarted + kStallMilliseconds;
        if (now >= end)
            break;
        SleepConditionVariableSRW(&state.changed, &state.lock, static_cast<DWORD>(end - now), 0);
    }
    // What is still queued or being written will not be waited for.
    unsigned long long dropped = state.dropped + state.queue.size() + (state.writing ? 1 : 0);
    state.queue.clear();
    state.queuedBytes = 0;
    return dropped;
}

DWORD WINAPI TextWriter::Run(LPVOID parameter)
{
    std::unique_ptr<std::shared_ptr<State>> owner(static_cast<std::shared_ptr<State> *>(parameter));
    State &state = **owner;
    LockGuard guard(state.lock);
    for (;;) {
        while (state.queue.empty())
            SleepConditionVariableSRW(&state.changed, &state.lock, INFINITE, 0);
        std::string text = std::move(state.queue.front());
        state.queue.pop_front();
        state.queuedBytes -= text.size();
        state.writing = true;
        state.writeStarted = GetTickCount64();
        WakeAllConditionVariable(&state.changed);
        ReleaseSRWLockExclusive(&state.lock);
        bool whole = WriteText(state.output, text);
        AcquireSRWLockExclusive(&state.lock);
        state.writing = false;
        if (!whole)
            ++state.dropped;
        WakeAllConditionVariable(&state.changed);
    }
}
