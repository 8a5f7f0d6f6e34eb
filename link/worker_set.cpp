#include "link/worker_set.h"

namespace qm {

void WorkerSet::ReapFinishedLocked(std::list<Worker>& finished) {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            auto next = std::next(it);
            finished.splice(finished.end(), workers_, it);
            it = next;
        } else {
            ++it;
        }
    }
}

bool WorkerSet::Start(std::function<void()> fn) {
    std::list<Worker> finished;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (closed_) return false;
        ReapFinishedLocked(finished);
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back(Worker{std::thread([fn = std::move(fn), done] {
                                      fn();
                                      done->store(true);
                                  }),
                                  done});
    }
    // Joined outside the lock: a finished worker has only its return left.
    for (Worker& w : finished) w.thread.join();
    return true;
}

void WorkerSet::JoinAll() {
    std::list<Worker> all;
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        all.swap(workers_);
    }
    for (Worker& w : all) w.thread.join();
}

size_t WorkerSet::Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return workers_.size();
}

}  // namespace qm
