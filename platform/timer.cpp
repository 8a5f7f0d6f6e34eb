#include "platform/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdlib>

namespace qm {

OneShotTimer::OneShotTimer(uint32_t ms) : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)) {
    if (fd_ < 0)
        std::abort();
    itimerspec when{};
    // A zero value would disarm the timer; one nanosecond fires at once.
    when.it_value.tv_sec = ms / 1000;
    when.it_value.tv_nsec = ms == 0 ? 1 : static_cast<long>(ms % 1000) * 1000000L;
    timerfd_settime(fd_, 0, &when, nullptr);
}

OneShotTimer::~OneShotTimer() {
    close(fd_);
}

}  // namespace qm
