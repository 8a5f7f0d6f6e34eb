// The soak's back-end at its answers: each reply is written to R<host>.txt
// and announced to the manager by a thread of its own once its answer time
// has passed, so that a slow back-end never slows the terminals' traffic,
// which the soak's main loop plays. The answers of one station go out in the
// order their requests came, and at least a gap apart: the station has one
// reply file, and a reply written before the manager has read the one before
// would replace it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_message.h"
#include "tools/soak/ledger.h"

namespace qm::soak {

class Answerer {
  public:
    struct Answer {
        Ledger::Terminal terminal;
        std::string file;      // the reply file's contents
        Bytes atTerminal;      // what the terminal gets of it
        uint64_t request = 0;  // the serial of the terminal's request it answers
    };
    struct Written {
        Ledger::Terminal terminal;
        Bytes atTerminal;
        // The terminal had asked again by the time the reply was written.
        bool stale = false;
    };
    // The serial of the terminal's most recent request that the back-end
    // has read; called on the answerer's thread.
    using LatestRequest = std::function<uint64_t(Ledger::Terminal)>;

    Answerer(std::string txtDir, WindowHandle manager, int64_t sameStationGapMs,
             LatestRequest latest);
    // Stops and joins the thread; answers not written yet are dropped.
    ~Answerer();
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;

    // Writes the answer at dueMs (MonotonicMs) or, behind earlier answers
    // of its station, as soon after as the gap allows.
    void Schedule(int64_t dueMs, Answer answer);
    // The answers written and announced since the last call, in order.
    std::vector<Written> TakeWritten();
    // Answers scheduled and not written yet.
    size_t Waiting() const;
    // Reply files that could not be written, notices that could not be
    // posted.
    uint64_t Errors() const;

  private:
    struct Due {
        int64_t dueMs;
        Answer answer;
    };
    void Run();
    // The station whose next answer may go first, and when; false if none.
    bool NextLocked(uint8_t* host, int64_t* atMs) const;
    void Deliver(const Answer& answer);

    const std::string txtDir_;
    const WindowHandle manager_;
    const int64_t gapMs_;
    const LatestRequest latest_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<uint8_t, std::deque<Due>> waiting_;  // by host id, in order asked
    std::map<uint8_t, int64_t> lastPostedMs_;
    std::vector<Written> written_;
    uint64_t errors_ = 0;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is made
};

}  // namespace qm::soak
