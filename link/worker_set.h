// Owner of the link's short-lived worker threads: retry workers, page
// senders and short-message senders. Each worker is joined either when a
// later worker starts (finished ones are reaped then) or at JoinAll, which
// StopLink calls after setting the stop event that every worker waits on.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace qm {

class WorkerSet {
  public:
    WorkerSet() = default;
    ~WorkerSet() { JoinAll(); }
    WorkerSet(const WorkerSet&) = delete;
    WorkerSet& operator=(const WorkerSet&) = delete;

    // How a worker's thread is made; std::thread by default. Replaceable so
    // that a system out of threads can be played, or the job run at once on
    // the caller's thread (the starter then returns an empty std::thread; the
    // job runs under the set's lock and must not start a worker itself).
    using Starter = std::function<std::thread(std::function<void()>)>;
    void SetStarter(Starter starter);

    // Runs fn on a thread of its own. Refused (false) once JoinAll has begun,
    // and, logged, when no thread can be had.
    bool Start(std::function<void()> fn);
    // Joins every worker; no new one starts afterwards.
    void JoinAll();

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapFinishedLocked(std::list<Worker>& finished);
    static void Join(Worker& worker);

    std::mutex lock_;
    std::list<Worker> workers_;
    bool closed_ = false;
    Starter starter_ = [](std::function<void()> fn) { return std::thread(std::move(fn)); };
};

}  // namespace qm
