#include "bounded_close.h"

#include <csignal>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Its arrival is all that counts: it makes the driver's wait return.
void Interrupt(int) {}

// A real-time signal: nothing else in the process sends or expects it.
int InterruptSignal()
{
    return SIGRTMIN;
}

// A timer that signals the calling thread alone, first after the bound
// and then at every bound until it is deleted. System calls only (glibc's
// timer_create is not async-signal-safe); -1 when none could be made.
int ArmThreadTimer(int signalNumber)
{
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signalNumber;
    event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
    int timer = -1;
    if (syscall(SYS_timer_create, CLOCK_MONOTONIC, &event, &timer) != 0)
        return -1;
    const timespec bound{0, kCloseBoundMs * 1000000L};
    const itimerspec every{bound, bound};
    syscall(SYS_timer_settime, timer, 0, &every, nullptr);
    return timer;
}

}  // namespace

// Without SA_RESTART, so the driver's wait returns instead of resuming.
// Set once and kept: a disposition is the whole process's, and two closes
// on two threads that each put back what they found could leave the
// default action (the end of the process) under the other's armed timer.
void PrepareBoundedClose()
{
    struct sigaction interrupt {};
    interrupt.sa_handler = Interrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(InterruptSignal(), &interrupt, nullptr);
}

// Why a thread-directed timer, and why this order:
// - An interval timer (setitimer) signals the process: the kernel may hand
//   the signal to the answer writer's thread, and the close goes on
//   waiting. SIGEV_THREAD_ID hits the closing thread, and only it.
// - The signal is unblocked in this thread for the call: a stop signal's
//   handler runs with every signal blocked.
// - The timer repeats: one that fired before close() went to sleep would
//   otherwise be spent.
// - The timer is deleted before the mask is put back: a signal it raised
//   is delivered, to the handler, as that call returns.
// - close() is never made again after EINTR: Linux has released the fd by
//   then, and the number may already be another thread's.
void CloseWithinBound(int fd)
{
    const int signalNumber = InterruptSignal();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigset_t mask;
    pthread_sigmask(SIG_UNBLOCK, &only, &mask);
    int timer = ArmThreadTimer(signalNumber);
    close(fd);
    if (timer >= 0)
        syscall(SYS_timer_delete, timer);
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}
