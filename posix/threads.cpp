// CreateThread and critical sections on POSIX threads.
#include "threads.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <pthread.h>

#include "failure.h"
#include "kernel_objects.h"
#include "win32_subset.h"

namespace {

std::atomic<int> runningThreads{0};

// The handle of a started thread. The thread runs on detached: closing
// the handle does not end it, as on Windows.
class Thread : public KernelObject {
public:
    static const ObjectType kType = ObjectType::Thread;
    Thread() : KernelObject(kType) {}
};

struct ThreadStart {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

void *RunThread(void *argument)
{
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(argument));
    start->start(start->parameter);
    --runningThreads;
    return nullptr;
}

std::recursive_mutex &LockOf(LPCRITICAL_SECTION section)
{
    return *static_cast<std::recursive_mutex *>(section->lock);
}

}  // namespace

bool OtherThreadsRunning()
{
    return runningThreads > 0;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId)
{
    (void)sa;
    (void)stackSize;
    // Suspended starts and the other flags are not needed here.
    if (start == nullptr || flags != 0)
        return Fail<HANDLE>(ERROR_INVALID_PARAMETER);
    static std::atomic<DWORD> lastThreadId{0};
    auto startup = std::make_unique<ThreadStart>(ThreadStart{start, parameter});
    pthread_t thread;
    ++runningThreads;
    int error = pthread_create(&thread, nullptr, RunThread, startup.get());
    if (error != 0) {
        --runningThreads;
        return Fail<HANDLE>(error);
    }
    startup.release();  // the thread's now
    pthread_detach(thread);
    if (threadId != nullptr)
        *threadId = ++lastThreadId;
    return RegisterObject(std::make_shared<Thread>());
}

void InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    section->lock = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section)
{
    LockOf(section).lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section)
{
    LockOf(section).unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section)
{
    delete &LockOf(section);
    section->lock = nullptr;
}
