#include "tools/devsim/sim_core.h"

#include <unistd.h>

#include <chrono>

namespace qm::devsim {

int64_t MonotonicUs() {
    // steady_clock is CLOCK_MONOTONIC on Linux.
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SimCore::RecordLocked(FrameRecord record) {
    if (sink_) {
        unsent_.push_back(record);
    }
    frames.push_back(std::move(record));
    if (historyLimit > 0) {
        while (frames.size() > historyLimit) {
            frames.pop_front();
        }
    }
    NotifyLocked();
}

void SimCore::Wake() const {
    if (wakeFd < 0) {
        return;
    }
    const uint64_t one = 1;
    // An eventfd write fails only when the counter would overflow, and then
    // the thread is due to wake anyway.
    [[maybe_unused]] ssize_t ignored = ::write(wakeFd, &one, sizeof one);
}

void SimCore::FlushTrace() {
    std::lock_guard traceLock(traceMu_);
    std::vector<FrameRecord> batch;
    TraceSink sink;
    {
        std::lock_guard lock(mu);
        if (unsent_.empty()) {
            return;
        }
        batch.swap(unsent_);
        sink = sink_;
    }
    for (const FrameRecord& record : batch) {
        sink(record);
    }
}

void SimCore::SetTraceSink(TraceSink sink) {
    std::lock_guard lock(mu);
    sink_ = std::move(sink);
    if (!sink_) {
        unsent_.clear();
    }
}

}  // namespace qm::devsim
