// Routing of terminal answers to the download run and the link test.
#include "link/run_routes.h"

#include <mutex>

#include "link/frame_codec.h"
#include "link/link_state.h"

namespace qm {

void AttachDownloadRoute(Link& link, const DownloadRoute& route) {
    std::lock_guard<std::mutex> hold(link.routeLock);
    link.downloadRoute = route;
    link.downloadRunning = 1;
}

void EndDownloadRouting(Link& link) {
    std::lock_guard<std::mutex> hold(link.routeLock);
    link.downloadRunning = 0;
}

void DetachDownloadRoute(Link& link) {
    std::lock_guard<std::mutex> hold(link.routeLock);
    link.downloadRunning = 0;
    link.downloadRoute.reset();
}

void AttachTestRoute(Link& link, const TestRoute& route) {
    std::lock_guard<std::mutex> hold(link.routeLock);
    link.testRoute = route;
    link.testActive = 1;
}

void DetachTestRoute(Link& link) {
    std::lock_guard<std::mutex> hold(link.routeLock);
    link.testActive = 0;
    link.testRoute.reset();
}

bool RouteDownloadAnswer(Link& link, const StationLink& station, uint8_t dcbId, uint8_t command) {
    if (!link.downloadRunning)
        return false;
    std::lock_guard<std::mutex> hold(link.routeLock);
    if (!link.downloadRunning || !link.downloadRoute ||
        link.downloadRoute->station != station.position)
        return false;
    // A terminal selected twice answers for its first entry, as the run
    // polls the entries in order and waits on one at a time.
    for (const auto& target : link.downloadRoute->targets) {
        if (target->dcbId != dcbId)
            continue;
        (command == kCmdDownloadSearch ? target->foundEvent : target->lineAckEvent).Set();
        return true;
    }
    return false;
}

bool StationBorrowed(Link& link, const StationLink& station) {
    if (!link.downloadRunning && !link.testActive)
        return false;
    std::lock_guard<std::mutex> hold(link.routeLock);
    return (link.downloadRunning && link.downloadRoute &&
            link.downloadRoute->station == station.position) ||
           (link.testActive && link.testRoute && link.testRoute->station == station.position);
}

void RouteTestEcho(Link& link, const StationLink& station, uint8_t terminalPos,
                   std::span<const uint8_t> frame) {
    if (!link.testActive)
        return;
    std::lock_guard<std::mutex> hold(link.routeLock);
    if (!link.testActive || !link.testRoute || link.testRoute->station != station.position)
        return;
    const TestRoute& route = *link.testRoute;
    if (terminalPos >= route.counters.size() || terminalPos >= route.replyEvents.size())
        return;
    TestCounters& counters = route.counters[terminalPos];
    Event* reply = route.replyEvents[terminalPos].get();
    if (reply == nullptr)
        return;  // not selected: nobody probed it
    if (DataChecksumOk(frame) && TestEchoMatches(frame, link.testSequence))
        reply->Set();
    else
        TestCount(counters.errorCount).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace qm
