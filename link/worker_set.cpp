#include "link/worker_set.h"

#include <system_error>

#include "platform/app_log.h"

namespace qm {

void WorkerSet::Join(Worker& worker) {
    // A starter may run the job on the calling thread and hand back no
    // thread at all.
    if (worker.thread.joinable())
        worker.thread.join();
}

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

void WorkerSet::SetStarter(Starter starter) {
    std::lock_guard<std::mutex> hold(lock_);
    starter_ = std::move(starter);
}

bool WorkerSet::Start(std::function<void()> fn) {
    std::list<Worker> finished;
    bool started = true;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (closed_)
            return false;
        ReapFinishedLocked(finished);
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            std::thread thread = starter_([fn = std::move(fn), done] {
                fn();
                done->store(true);
            });
            workers_.push_back(Worker{std::move(thread), done});
        } catch (const std::system_error&) {
            // Out of threads (or of memory for one): this worker's job is
            // dropped, the caller goes on without it.
            started = false;
        }
    }
    // Joined outside the lock: a finished worker has only its return left.
    for (Worker& w : finished) Join(w);
    if (!started)
        LogError("Worker thread not started", 255, 255);
    return started;
}

void WorkerSet::JoinAll() {
    std::list<Worker> all;
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        all.swap(workers_);
    }
    for (Worker& w : all) Join(w);
}

}  // namespace qm
