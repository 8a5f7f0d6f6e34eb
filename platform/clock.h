// Time for the manager: a monotonic millisecond tick count and sleeps.
//
// Every wait and pause of the link goes through here, so that the timing
// rules of the link (10 ms write pause, 500 ms acknowledgement waits, beacon
// dwell) can be read in one place.
#pragma once

#include <cstdint>
#include <ctime>

namespace qm {

// Milliseconds since an arbitrary start, from the monotonic clock, as a
// 32-bit tick count that wraps after about 49 days; the link's timing takes
// differences as uint32_t, which stay right across the wrap.
uint32_t TickCount();

// Monotonic milliseconds without wrap, for deadlines.
int64_t MonotonicMs();

// Pauses the calling thread. Used only for the fixed pauses of the link
// protocol, never to wait for something to happen.
void SleepMs(uint32_t ms);

// How late the calling thread's timed waits and pauses may end, so that
// the kernel can serve several with one wake-up (default 50 us).
void SetTimerSlackUs(uint32_t us);

// A deadline for bounded waits: start, check and remaining time.
class Deadline {
  public:
    explicit Deadline(int64_t timeoutMs);
    bool Expired() const;
    // Milliseconds left, never negative.
    int64_t RemainingMs() const;

  private:
    int64_t end_;
};

// The wall-clock time now in the local time zone.
std::tm LocalTimeNow();

}  // namespace qm
