// Events: the signalling primitive of every thread of the manager.
//
// An event is an eventfd. Being a file descriptor, it can be waited on
// together with a serial port or a socket in one poll(), which is what the
// link's reader needs ("the port or the stop event") and what lets a window's
// queue be watched by any main loop. An event's handle is its descriptor
// number, so it fits in the 32-bit handle field of the service's records.
//
//  - Auto-reset: Set() releases exactly one waiter, then the event is clear
//    again. Setting an already set event changes nothing.
//  - Manual-reset: stays set, releasing every waiter, until Reset().
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

namespace qm {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Anything a thread can wait for: a descriptor that polls readable, and what
// it takes to own the wake-up.
class Waitable {
public:
    virtual ~Waitable() = default;
    virtual int WaitFd() const = 0;
    // Called once poll() reports the descriptor readable. Returns true when
    // this waiter is released; an auto-reset event is consumed here, so of
    // several waiters woken together exactly one gets true.
    virtual bool Acquire() const = 0;
};

class Event final : public Waitable {
public:
    enum class Mode { kAutoReset, kManualReset };

    Event(Mode mode, bool initiallySet);
    ~Event() override;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Whether the event is set now, without taking it.
    bool IsSet() const;
    // Waits up to timeoutMs (kInfinite: no limit). True when released.
    bool Wait(uint32_t timeoutMs) const;

    uint32_t Handle() const { return static_cast<uint32_t>(fd_); }
    bool Valid() const { return fd_ >= 0; }
    int WaitFd() const override { return fd_; }
    bool Acquire() const override;

private:
    Mode mode_;
    int fd_;
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
// can act on it rather than spin.
int WaitAny(std::span<const Waitable* const> objects, uint32_t timeoutMs);
int WaitAny(std::initializer_list<const Waitable*> objects, uint32_t timeoutMs);

}  // namespace qm
