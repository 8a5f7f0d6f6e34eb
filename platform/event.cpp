#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <vector>

namespace qm {

using SteadyTime = std::chrono::steady_clock::time_point;

struct Event::Waiter {
    std::mutex lock;
    std::condition_variable woken;
    bool signalled = false;
};

namespace {

constexpr SteadyTime kNever = SteadyTime::max();

std::atomic<uint32_t> g_nextHandle{1};

// The counter of an eventfd is 1 while its event is set and 0 while clear;
// it is changed only when the flag changes, under the event's lock.
void Raise(int fd) {
    const uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Lower(int fd) {
    uint64_t value = 0;
    while (read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

SteadyTime FromMonotonicMs(int64_t ms) {
    // steady_clock is CLOCK_MONOTONIC, the clock of MonotonicMs.
    return SteadyTime(std::chrono::milliseconds(ms));
}

SteadyTime AfterMs(uint32_t timeoutMs) {
    if (timeoutMs == kInfinite)
        return kNever;
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Waits on events only: each gets the waiter registered, and every set of
// any of them wakes it to look again.
int WaitOnEvents(std::span<const Waitable* const> objects, SteadyTime end) {
    auto tryTake = [&]() -> int {
        for (size_t i = 0; i < objects.size(); ++i)
            if (objects[i]->Acquire())
                return static_cast<int>(i);
        return kWaitTimeout;
    };
    int taken = tryTake();
    if (taken >= 0 || (end != kNever && std::chrono::steady_clock::now() >= end))
        return taken;

    // Shared with the events, so that a set can wake it after letting go of
    // the event's lock: the woken thread then never finds that lock held.
    auto waiter = std::make_shared<Event::Waiter>();
    for (const Waitable* o : objects) o->AsEvent()->Attach(waiter);
    for (;;) {
        // Registered before looking, so a set from now on is not missed.
        taken = tryTake();
        if (taken >= 0)
            break;
        std::unique_lock<std::mutex> hold(waiter->lock);
        auto signalled = [&] { return waiter->signalled; };
        if (end == kNever) {
            waiter->woken.wait(hold, signalled);
        } else if (!waiter->woken.wait_until(hold, end, signalled)) {
            break;
        }
        waiter->signalled = false;
    }
    for (const Waitable* o : objects) o->AsEvent()->Detach(waiter);
    return taken;
}

int WaitOnDescriptors(std::span<const Waitable* const> objects, SteadyTime end) {
    std::vector<pollfd> fds(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        // poll() skips a negative descriptor, which would wait for ever.
        if (objects[i]->WaitFd() < 0)
            return kWaitFailed;
        fds[i] = {objects[i]->WaitFd(), POLLIN, 0};
    }
    for (;;) {
        timespec left{};
        timespec* limit = nullptr;
        if (end != kNever) {
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
            ns = std::max<int64_t>(ns, 0);
            left.tv_sec = static_cast<time_t>(ns / 1000000000);
            left.tv_nsec = static_cast<long>(ns % 1000000000);
            limit = &left;
        }
        int n = ppoll(fds.data(), fds.size(), limit, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return kWaitFailed;
        }
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].revents & POLLNVAL)
                return kWaitFailed;
            if (objects[i]->Acquire())
                return static_cast<int>(i);
        }
        if (end != kNever && std::chrono::steady_clock::now() >= end)
            return kWaitTimeout;
    }
}

int WaitUntil(std::span<const Waitable* const> objects, SteadyTime end) {
    if (objects.empty())
        return kWaitFailed;
    const bool eventsOnly = std::all_of(objects.begin(), objects.end(),
                                        [](const Waitable* o) { return o->AsEvent() != nullptr; });
    return eventsOnly ? WaitOnEvents(objects, end) : WaitOnDescriptors(objects, end);
}

}  // namespace

Event::Event(Mode mode, bool initiallySet, Reach reach)
    : mode_(mode), reach_(reach), handle_(g_nextHandle++), set_(initiallySet) {
    // Without a descriptor the event still serves waits on events; Valid()
    // tells its owner, who refuses to start what needs more.
    if (reach_ == Reach::kDescriptor)
        fd_ = eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Event::~Event() {
    if (fd_ >= 0)
        close(fd_);
}

void Event::Set() {
    // Most events have one waiter at most; the link's stop event has one per
    // thread.
    constexpr size_t kInline = 4;
    std::array<std::shared_ptr<Waiter>, kInline> few;
    std::vector<std::shared_ptr<Waiter>> many;
    size_t count = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (set_)
            return;
        set_ = true;
        if (fd_ >= 0)
            Raise(fd_);
        count = waiters_.size();
        if (count <= kInline)
            std::copy(waiters_.begin(), waiters_.end(), few.begin());
        else
            many = waiters_;
    }
    // Every waiter looks: one that takes another event leaves this one set
    // for the next.
    for (size_t i = 0; i < count; ++i) {
        Waiter& w = count <= kInline ? *few[i] : *many[i];
        {
            std::lock_guard<std::mutex> wake(w.lock);
            w.signalled = true;
        }
        w.woken.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!set_)
        return;
    set_ = false;
    if (fd_ >= 0)
        Lower(fd_);
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> hold(lock_);
    return set_;
}

bool Event::TakeLocked() const {
    if (!set_)
        return false;
    if (mode_ == Mode::kAutoReset) {
        set_ = false;
        if (fd_ >= 0)
            Lower(fd_);
    }
    return true;
}

bool Event::Acquire() const {
    std::lock_guard<std::mutex> hold(lock_);
    return TakeLocked();
}

void Event::Attach(const std::shared_ptr<Waiter>& w) const {
    std::lock_guard<std::mutex> hold(lock_);
    waiters_.push_back(w);
}

void Event::Detach(const std::shared_ptr<Waiter>& w) const {
    std::lock_guard<std::mutex> hold(lock_);
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), w));
}

bool Event::Wait(uint32_t timeoutMs) const {
    const Waitable* self = this;
    return WaitAny(std::span<const Waitable* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<const Waitable* const> objects, uint32_t timeoutMs) {
    return WaitUntil(objects, AfterMs(timeoutMs));
}

int WaitAny(std::initializer_list<const Waitable*> objects, uint32_t timeoutMs) {
    return WaitAny(std::span<const Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

int WaitAnyUntil(std::span<const Waitable* const> objects, int64_t deadlineMs) {
    return WaitUntil(objects, FromMonotonicMs(deadlineMs));
}

int WaitAnyUntil(std::initializer_list<const Waitable*> objects, int64_t deadlineMs) {
    return WaitAnyUntil(std::span<const Waitable* const>(objects.begin(), objects.size()),
                        deadlineMs);
}

}  // namespace qm
