#include "platform/clock.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

namespace qm {

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t TickCount() {
    return static_cast<uint32_t>(MonotonicMs());
}

void SleepMs(uint32_t ms) {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void SetTimerSlackUs(uint32_t us) {
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(us) * 1000UL);
}

Deadline::Deadline(int64_t timeoutMs) : end_(MonotonicMs() + timeoutMs) {}

bool Deadline::Expired() const {
    return MonotonicMs() >= end_;
}

int64_t Deadline::RemainingMs() const {
    int64_t left = end_ - MonotonicMs();
    return left > 0 ? left : 0;
}

std::tm LocalTimeNow() {
    const time_t now = time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace qm
