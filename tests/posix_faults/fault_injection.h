// Makes one system call of the POSIX stand-in fail, for the error paths a
// pseudo-terminal cannot be made to take. Each call below is wrapped at
// link time (--wrap), in this test program only; unarmed, a wrapper passes
// the call on unchanged.
#pragma once

// Readlink: readlink and readlinkat. Stat: fstatat, which follows a link
// to the file behind it.
enum class SystemCall { Tcgetattr, Tcsetattr, Tcflush, Ioctl, Poll, Read, Write, Readlink, Stat, Close };

struct Fault;

// While it lives, every call of `call` fails with `error`; the methods
// narrow it down or make it succeed differently. A few may live at once.
class InjectedFault {
public:
    InjectedFault(SystemCall call, int error);
    ~InjectedFault();
    InjectedFault(const InjectedFault &) = delete;
    InjectedFault &operator=(const InjectedFault &) = delete;

    InjectedFault &OnFd(int fd);
    InjectedFault &ForRequest(unsigned long request);  // ioctl
    InjectedFault &Times(int times);
    // Succeeds with `result`; an ioctl also reports it as its int.
    InjectedFault &Succeeding(int result);
    // Made for real, then held as a driver's closing wait holds a close:
    // `ms`, or until a signal handler runs on the calling thread (EINTR).
    // A write or stat then reports what the real call did.
    InjectedFault &Holding(int ms);
    // A write held `ms` before it is made, as one that waits for room; a
    // signal handler on the calling thread ends the hold, and the write
    // then fails with EINTR, having written nothing.
    InjectedFault &HeldFirst(int ms);

    // How many calls it has changed so far.
    int Hits() const;

private:
    Fault &fault_;
};
