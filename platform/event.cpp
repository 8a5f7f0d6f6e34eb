#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/clock.h"

namespace qm {

Event::Event(Mode mode, bool initiallySet)
    : mode_(mode), fd_(eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without an event no thread of the manager can be stopped or woken; the
    // process cannot carry on in any sound way.
    if (fd_ < 0) std::abort();
}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

void Event::Set() {
    uint64_t one = 1;
    // The counter only grows; a set event stays set whatever its count.
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset() {
    uint64_t value = 0;
    while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool Event::IsSet() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool Event::Acquire() const {
    if (mode_ == Mode::kManualReset) return true;
    uint64_t value = 0;
    for (;;) {
        if (read(fd_, &value, sizeof value) == sizeof value) return true;
        if (errno != EINTR) return false;  // EAGAIN: another waiter took it
    }
}

bool Event::Wait(uint32_t timeoutMs) const {
    const Waitable* self = this;
    return WaitAny(std::span<const Waitable* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<const Waitable* const> objects, uint32_t timeoutMs) {
    if (objects.empty()) return kWaitFailed;
    std::vector<pollfd> fds(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) fds[i] = {objects[i]->WaitFd(), POLLIN, 0};

    const bool forever = timeoutMs == kInfinite;
    const int64_t end = MonotonicMs() + (forever ? 0 : timeoutMs);
    for (;;) {
        int wait = -1;
        if (!forever) {
            int64_t left = end - MonotonicMs();
            wait = static_cast<int>(std::clamp<int64_t>(left, 0, INT32_MAX));
        }
        int n = poll(fds.data(), fds.size(), wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].revents & POLLNVAL) return kWaitFailed;
            if (objects[i]->Acquire()) return static_cast<int>(i);
        }
        if (!forever && MonotonicMs() >= end) return kWaitTimeout;
    }
}

int WaitAny(std::initializer_list<const Waitable*> objects, uint32_t timeoutMs) {
    return WaitAny(std::span<const Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

}  // namespace qm
