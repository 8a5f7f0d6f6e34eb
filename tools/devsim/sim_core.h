// State shared by a simulator, its stations and its terminals.
//
// One mutex guards all device state and every record. The I/O thread holds it
// while it handles what arrived on a line, so a terminal's answer is computed
// and queued in one step, exactly like a device that answers before it reads
// the next byte; the caller's accessors take it only to copy.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "tools/devsim/records.h"

namespace qm::devsim {

class SimCore {
  public:
    using TraceSink = std::function<void(const FrameRecord&)>;

    mutable std::mutex mu;
    std::condition_variable cv;
    uint64_t generation = 0;  // bumped whenever something new is recorded
    std::deque<FrameRecord> frames;
    size_t historyLimit = 0;  // 0: keep everything
    int wakeFd = -1;          // the I/O thread's eventfd

    // Caller holds mu.
    void RecordLocked(FrameRecord record);
    void NotifyLocked() {
        ++generation;
        cv.notify_all();
    }
    // Wakes the I/O thread so that it looks at its descriptors again.
    void Wake() const;

    // Hands records to the trace sink outside mu, in the order recorded.
    // Caller must not hold mu.
    void FlushTrace();
    void SetTraceSink(TraceSink sink);

  private:
    std::mutex traceMu_;               // serialises sink calls; taken before mu, never inside it
    TraceSink sink_;                   // guarded by mu
    std::vector<FrameRecord> unsent_;  // guarded by mu
};

}  // namespace qm::devsim
