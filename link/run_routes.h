// The download run and the link test borrow one station's terminals. While
// one runs, the answers of those terminals go to it instead of to the link's
// own waiters: acknowledgements and search answers to the download run's
// targets, test echoes to the link test's counters.
//
// The service attaches a route when it starts a run and detaches it before
// it frees what the route points at. The reader and the frame handler look
// a route up under the link's route lock, which is taken last and held only
// for the lookup, so a detached route is never touched again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/event.h"

namespace qm {

struct Link;
struct StationLink;

// One selected terminal of a download run. The run's worker owns the flags;
// the reader sets the events.
struct DownloadTarget {
    explicit DownloadTarget(uint8_t id) : dcbId(id) {}
    const uint8_t dcbId;
    std::atomic<int32_t> found{0};   // answered the search
    std::atomic<int32_t> failed{0};  // dropped out of the run
    std::atomic<int32_t> acked{0};   // acknowledged the current line
    Event foundEvent{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};
    Event lineAckEvent{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};
};

// One terminal's counters of a link test, in the caller's memory, laid out as
// the service API's test status record. The caller reads them at any time;
// each is written by one thread, always as a whole word (TestCount).
struct TestCounters {
    uint32_t sentCount;
    uint32_t okCount;
    uint32_t errorCount;
    uint32_t timeoutCount;
    int32_t selected;
    uint32_t replyEvent;
};
static_assert(sizeof(TestCounters) == 24);

// The counter as a word that other threads may read while it is written.
inline std::atomic_ref<uint32_t> TestCount(uint32_t& counter) {
    return std::atomic_ref<uint32_t>(counter);
}

struct DownloadRoute {
    uint8_t station = 0;  // position in the link's station table
    std::span<const std::unique_ptr<DownloadTarget>> targets;
};

struct TestRoute {
    uint8_t station = 0;
    // One per terminal of the station, in table order; an event only for
    // the selected ones.
    std::span<TestCounters> counters;
    std::span<const std::unique_ptr<Event>> replyEvents;
};

// The service's side: a route is attached before the run's flag is set and
// detached after it is cleared.
void AttachDownloadRoute(Link& link, const DownloadRoute& route);
// Clears the run's flag: from here on answers go to the terminals' own
// events again (the closing step of a stopped run relies on it).
void EndDownloadRouting(Link& link);
void DetachDownloadRoute(Link& link);
void AttachTestRoute(Link& link, const TestRoute& route);
void DetachTestRoute(Link& link);

// The reader's side. An acknowledgement (kCmdAck) or search answer
// (kCmdDownloadSearch) from a terminal of the run's station that the run
// selected: the target's event is set and true returned. False when no run
// routes it.
bool RouteDownloadAnswer(Link& link, const StationLink& station, uint8_t dcbId, uint8_t command);

// Whether a download run or a link test has the station's terminals now.
// Their beacon answers then start no short-message delivery: its
// acknowledgement would be taken for the run's.
bool StationBorrowed(Link& link, const StationLink& station);

// The frame handler's side: a test frame (command 0x55) from the terminal at
// terminalPos. While a test runs on this station, a correct echo of the
// current sequence sets the terminal's reply event and anything else counts
// as an error; otherwise it is ignored.
void RouteTestEcho(Link& link, const StationLink& station, uint8_t terminalPos,
                   std::span<const uint8_t> frame);

}  // namespace qm
