// The link test: probes the radio link between one base station and some of
// its terminals. A sender thread sends the 61-byte test frame to each
// selected terminal in turn, over and over, and waits briefly for its echo;
// the counts go into the caller's own status array, which the caller reads
// while the test runs. The frame handler judges the echoes (run_routes.h).
// The beacons of every station pause while the test runs.
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "link/link_state.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "service/run_control.h"
#include "service/service.h"

namespace qm::service {
namespace {

// How long a probe waits for its echo.
constexpr uint32_t kEchoWait = 170;
constexpr uint32_t kBeaconsSettle = 100;
constexpr uint8_t kLastSequence = 254;

struct TestRecord {
    Link* link = nullptr;  // set from Start to Stop
    uint8_t station = 0;
    std::span<TestCounters> counters;
    std::vector<std::unique_ptr<Event>> replyEvents;  // per terminal; selected ones only
    std::atomic<bool> stopping{false};
    // Set by Stop; a sender with nobody to probe waits on it.
    Event stopped{Event::Mode::kManualReset, false, Event::Reach::kInProcess};
    std::thread sender;
};

TestRecord g_Test;

void Bump(uint32_t& counter) {
    TestCount(counter).fetch_add(1, std::memory_order_relaxed);
}

uint8_t NextSequence(uint8_t s) {
    return s >= kLastSequence ? 1 : static_cast<uint8_t>(s + 1);
}

void TestSender() {
    Link& link = *g_Test.link;
    StationLink& station = *link.stations[g_Test.station];
    for (;;) {
        const uint8_t sequence = link.testSequence;
        bool probed = false;
        for (size_t i = 0; i < g_Test.replyEvents.size(); ++i) {
            Event* reply = g_Test.replyEvents[i].get();
            if (reply == nullptr)
                continue;
            const auto frame = BuildTestFrame(station.terminals[i]->dcbId, sequence);
            if (!frame)
                continue;  // an id no frame can address
            probed = true;
            TestCounters& c = g_Test.counters[i];
            Bump(c.sentCount);
            reply->Reset();
            AppendFrame(station, *frame);
            station.wake.Set();
            const int r = WaitAny({reply, &link.stop}, kEchoWait);
            if (r == 0)
                Bump(c.okCount);
            else if (r == kWaitTimeout)
                Bump(c.timeoutCount);
            else
                return;  // the link stops
            if (g_Test.stopping)
                return;
        }
        // With nobody to probe there is nothing to pace the passes: wait
        // for the stop instead of turning round and round.
        if (!probed) {
            WaitAny({&g_Test.stopped, &link.stop}, kInfinite);
            return;
        }
        if (g_Test.stopping)
            return;
        link.testSequence = NextSequence(sequence);
    }
}

}  // namespace

void StartLinkTest(uint8_t stationIndex, _TESTSTATUS* array) {
    std::lock_guard<std::mutex> hold(RunLock());
    LinkCall call;
    if (!call) {
        LogError("SDKTestProcess: the link is not running", 255, 255);
        return;
    }
    Link& link = call.link();
    if (g_Test.link || DownloadActive()) {
        LogError("SDKTestProcess: a download run or link test is active", 255, 255);
        return;
    }
    if (stationIndex >= link.stations.size()) {
        LogError("SDKTestProcess: no such station running", 255, stationIndex);
        return;
    }
    // The counters are written as whole words while the caller reads them.
    if (array == nullptr || reinterpret_cast<uintptr_t>(array) % alignof(uint32_t) != 0) {
        LogError("SDKTestProcess: status array missing or misaligned", 255, 255);
        return;
    }
    StationLink& station = *link.stations[stationIndex];

    link.run.Reset();
    SleepMs(kBeaconsSettle);
    g_Test.link = &link;
    g_Test.station = stationIndex;
    g_Test.counters = {reinterpret_cast<TestCounters*>(array), station.terminals.size()};
    g_Test.replyEvents.clear();
    for (TestCounters& c : g_Test.counters) {
        std::unique_ptr<Event> reply;
        if (c.selected) {
            reply =
                std::make_unique<Event>(Event::Mode::kAutoReset, false, Event::Reach::kInProcess);
            c.replyEvent = reply->Handle();
        }
        g_Test.replyEvents.push_back(std::move(reply));
    }
    g_Test.stopping = false;
    g_Test.stopped.Reset();
    AttachTestRoute(link, TestRoute{stationIndex, g_Test.counters, g_Test.replyEvents});
    try {
        g_Test.sender = std::thread(TestSender);
    } catch (const std::system_error&) {
        LogError("Worker thread not started", 255, 255);
        StopLinkTestLocked();
    }
}

void StopLinkTest() {
    std::lock_guard<std::mutex> hold(RunLock());
    StopLinkTestLocked();
}

void StopLinkTestLocked() {
    if (!g_Test.link)
        return;
    Link& link = *g_Test.link;
    // The sender ends after its current probe, which it still counts, so
    // that every frame sent is counted as answered or timed out.
    g_Test.stopping = true;
    g_Test.stopped.Set();
    if (g_Test.sender.joinable())
        g_Test.sender.join();
    DetachTestRoute(link);
    for (size_t i = 0; i < g_Test.replyEvents.size(); ++i)
        if (g_Test.replyEvents[i])
            g_Test.counters[i].replyEvent = 0;
    g_Test.replyEvents.clear();
    g_Test.counters = {};
    g_Test.link = nullptr;
    link.run.Set();
}

}  // namespace qm::service
