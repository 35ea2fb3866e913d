// Events: set and waited for from any thread. The event of a pending
// overlapped request knows what drives that request, so a wait on it makes
// the I/O progress without looking through other objects.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kernel_objects.h"

class Event;

// What driving the I/O behind an event came to.
enum class DriveOutcome {
    NoIo,       // no pending request signals this event
    Completed,  // the request completed and signalled the event
    Pending,    // the time ran out first; the request goes on
};

// What makes a pending request progress: its port.
class RequestDriver {
public:
    // Drives the pending request whose event is `event` until it completes
    // or the monotonic time `limit` (kForever: none) passes.
    virtual DriveOutcome DriveRequestOf(const Event &event, uint64_t limit) = 0;

protected:
    ~RequestDriver() = default;
};

class Event : public KernelObject {
public:
    static const ObjectType kType = ObjectType::Event;

    Event(bool manualReset, bool signalled)
        : KernelObject(kType), manualReset_(manualReset), signalled_(signalled)
    {
    }

    void Set();
    void Reset();
    // A successful wait: true when signalled; an auto-reset event is reset by it.
    bool Take();
    // Signalled, or drives the I/O behind the event, or waits for another
    // thread to set it.
    DWORD Wait(DWORD milliseconds) override;

    // A request that will signal the event started on `driver`, or ended.
    void AttachDriver(std::weak_ptr<RequestDriver> driver);
    void DetachDriver();

private:
    bool TakeLocked();
    std::shared_ptr<RequestDriver> Driver();
    bool WaitToTake(uint64_t limit);

    std::mutex mutex_;
    std::condition_variable set_;
    bool manualReset_;
    bool signalled_;
    std::weak_ptr<RequestDriver> driver_;
};
