#include "tools/soak/answerer.h"

#include <algorithm>
#include <chrono>

#include "platform/clock.h"
#include "service/qmsdk.h"
#include "tools/backsim/file_io.h"

namespace qm::soak {

Answerer::Answerer(std::string txtDir, WindowHandle manager, int64_t sameStationGapMs,
                   LatestRequest latest)
    : txtDir_(std::move(txtDir)),
      manager_(manager),
      gapMs_(sameStationGapMs),
      latest_(std::move(latest)),
      thread_(&Answerer::Run, this) {}

Answerer::~Answerer() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Answerer::Schedule(int64_t dueMs, Answer answer) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        waiting_[answer.terminal.first].push_back(Due{dueMs, std::move(answer)});
    }
    changed_.notify_all();
}

std::vector<Answerer::Written> Answerer::TakeWritten() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(written_, {});
}

size_t Answerer::Waiting() const {
    std::lock_guard<std::mutex> hold(lock_);
    size_t n = 0;
    for (const auto& [host, queue] : waiting_) n += queue.size();
    return n;
}

uint64_t Answerer::Errors() const {
    std::lock_guard<std::mutex> hold(lock_);
    return errors_;
}

bool Answerer::NextLocked(uint8_t* host, int64_t* atMs) const {
    bool found = false;
    for (const auto& [h, queue] : waiting_) {
        if (queue.empty())
            continue;
        int64_t at = queue.front().dueMs;
        if (const auto last = lastPostedMs_.find(h); last != lastPostedMs_.end())
            at = std::max(at, last->second + gapMs_);
        if (!found || at < *atMs) {
            *host = h;
            *atMs = at;
            found = true;
        }
    }
    return found;
}

void Answerer::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_) {
        uint8_t host = 0;
        int64_t atMs = 0;
        if (!NextLocked(&host, &atMs)) {
            changed_.wait(hold);
            continue;
        }
        const int64_t now = MonotonicMs();
        if (atMs > now) {
            changed_.wait_for(hold, std::chrono::milliseconds(atMs - now));
            continue;
        }
        const Answer answer = std::move(waiting_[host].front().answer);
        waiting_[host].pop_front();
        hold.unlock();
        Deliver(answer);
        hold.lock();
        lastPostedMs_[host] = MonotonicMs();
    }
}

void Answerer::Deliver(const Answer& answer) {
    const uint8_t host = answer.terminal.first;
    const bool stale = latest_(answer.terminal) != answer.request;
    const bool written =
        backsim::WriteWholeFile(txtDir_ + "/R" + std::to_string(host) + ".txt", answer.file);
    const bool posted = written && PostMessage(manager_, WM_POS_NOTICE, 0, host);
    std::lock_guard<std::mutex> hold(lock_);
    if (!written) {
        ++errors_;
        return;
    }
    // Written is what counts: a notice that could not go out leaves the
    // reply undelivered, and the error says why.
    written_.push_back(Written{answer.terminal, answer.atTerminal, stale});
    if (!posted)
        ++errors_;
}

}  // namespace qm::soak
