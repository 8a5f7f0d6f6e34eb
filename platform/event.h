// Events: the signalling primitive of every thread of the manager.
//
// An event is a flag under a small lock. A thread waiting on events only
// registers itself with each of them and sleeps on its own condition
// variable; a set wakes the registered waiters. Such an event costs no file
// descriptor, so a site of 8 stations with 200 terminals each, three events
// a terminal, fits in any open-files limit. Setting, resetting or checking
// an event whose state is already what is asked makes no system call.
//
// An event that is also waited on together with a serial port or a socket
// (in one poll()) carries an eventfd besides, kept readable exactly while
// the flag is set: the link's stop event with the port in the reader, the
// window queue's ready event in any main loop.
//
//  - Auto-reset: Set() releases exactly one waiter, then the event is clear
//    again. Setting an already set event changes nothing.
//  - Manual-reset: stays set, releasing every waiter, until Reset().
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace qm {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

class Event;

// Anything a thread can wait for: a descriptor that polls readable, and what
// it takes to own the wake-up.
class Waitable {
  public:
    virtual ~Waitable() = default;
    // The descriptor to poll; -1 for an event that has none.
    virtual int WaitFd() const = 0;
    // Called once poll() reports the descriptor readable. Returns true when
    // this waiter is released; an auto-reset event is consumed here, so of
    // several waiters woken together exactly one gets true.
    virtual bool Acquire() const = 0;
    // The event behind this object, if it is one.
    virtual const Event* AsEvent() const { return nullptr; }
};

class Event final : public Waitable {
  public:
    enum class Mode { kAutoReset, kManualReset };
    // kDescriptor: may be waited on together with descriptors (costs one
    // eventfd). kInProcess: waited on only together with other events.
    enum class Reach { kInProcess, kDescriptor };

    Event(Mode mode, bool initiallySet, Reach reach = Reach::kDescriptor);
    ~Event() override;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Whether the event is set now, without taking it.
    bool IsSet() const;
    // Waits up to timeoutMs (kInfinite: no limit). True when released.
    bool Wait(uint32_t timeoutMs) const;

    // A number that tells this event from every other of the process.
    uint32_t Handle() const { return handle_; }
    // False when the event was to carry a descriptor and none could be had
    // (the open-files limit): it then still works in waits on events only,
    // but a wait together with a descriptor fails.
    bool Valid() const { return reach_ == Reach::kInProcess || fd_ >= 0; }
    int WaitFd() const override { return fd_; }
    bool Acquire() const override;
    const Event* AsEvent() const override { return this; }

    // A thread waiting on events. Internal to WaitAny.
    struct Waiter;
    void Attach(const std::shared_ptr<Waiter>& w) const;
    void Detach(const std::shared_ptr<Waiter>& w) const;

  private:
    // Takes the event if it is set; the lock is held.
    bool TakeLocked() const;

    const Mode mode_;
    const Reach reach_;
    int fd_ = -1;
    uint32_t handle_;
    mutable std::mutex lock_;
    mutable bool set_;
    mutable std::vector<std::shared_ptr<Waiter>> waiters_;
};

// A descriptor that is "signalled" while it has something to read (a serial
// port, a socket, an inotify descriptor). Waiting never consumes anything.
class ReadableFd final : public Waitable {
  public:
    explicit ReadableFd(int fd) : fd_(fd) {}
    int WaitFd() const override { return fd_; }
    bool Acquire() const override { return true; }

  private:
    int fd_;
};

// Waits until one of the objects is released, or the time runs out.
// Returns the index of the first released object (in the order given when
// several are ready at once), kWaitTimeout, or kWaitFailed. A descriptor that
// reports hang-up or error counts as ready, so that the caller sees it and
// can act on it rather than spin. A wait that mixes descriptors with an
// in-process event fails.
int WaitAny(std::span<const Waitable* const> objects, uint32_t timeoutMs);
int WaitAny(std::initializer_list<const Waitable*> objects, uint32_t timeoutMs);

// The same up to an absolute time of the monotonic clock (MonotonicMs), so
// that threads waiting for the same moment wake together.
int WaitAnyUntil(std::span<const Waitable* const> objects, int64_t deadlineMs);
int WaitAnyUntil(std::initializer_list<const Waitable*> objects, int64_t deadlineMs);

}  // namespace qm
