// Start and stop of the link: the station table, the serial ports and the
// threads of every opened base station.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <latch>
#include <memory>
#include <string>
#include <system_error>

#include "link/link_state.h"
#include "link/request_notice.h"
#include "link/station_threads.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/site_folders.h"

namespace qm {
namespace {

std::unique_ptr<Link> g_link;

// Calls of the service API inside the link. The link is freed only once
// none is left, and none enters while a stop is under way.
std::mutex g_callLock;
std::condition_variable g_callsLeft;
uint32_t g_calls = 0;     // guarded by g_callLock
bool g_stopping = false;  // guarded by g_callLock

std::atomic<MessageBoxFunction> g_messageBox{nullptr};

// At a stop the beacons end first, so that no new poll is queued; the
// exchanges under way get this long to finish on the line (the writers send
// what is queued, acknowledgements still come in) before everything ends.
constexpr uint32_t kStopGrace = 100;

using StationThread = void (*)(Link&, StationLink&, std::latch&);

// Starts one thread of a station and returns once it has reached its first
// wait, so that each thread is ready before the next one needs it.
std::thread StartStationThread(StationThread fn, Link& link, StationLink& station) {
    std::latch ready(1);
    std::thread thread(fn, std::ref(link), std::ref(station), std::ref(ready));
    ready.wait();
    return thread;
}

// Opens the station's port with the link's line settings, or reports why
// not: "打开%s失败-%d" as a message, and in the log the device tried and
// the system's reason.
int OpenStationPort(Link& link, const StationEntry& entry, StationLink& station) {
    char name[sizeof entry.portName + 1] = {};
    std::memcpy(name, entry.portName.data(), entry.portName.size());
    int err = 0;
    station.portName = entry.portName;
    const std::string path = ResolvePortPath(entry.portName.data(), link.programDir, &err);
    if (!path.empty())
        station.port = SerialPort::OpenPath(path, &err);
    if (station.port) {
        station.portPath = path;
        station.portUp = true;
        // Whatever the line held before the link is stale. Cleared here,
        // before any thread runs, so that an answer to the first beacon is
        // never thrown away with it.
        station.port->Purge();
        return 1;
    }
    char text[64];
    std::snprintf(text, sizeof text, "打开%s失败-%d", name, err);
    ShowLinkMessage(text);
    // A name that resolves to nothing is the only path there was to try.
    const std::string detail = std::string("Cannot open ") + name + " at " +
                               (path.empty() ? std::string(name) : path) + ": " +
                               DescribeOpenFailure(err, entry.portName.data(), link.programDir);
    LogError(detail.c_str(), entry.hostId, 255);
    return 0;
}

}  // namespace

Link* CurrentLink() {
    return g_link.get();
}

LinkCall::LinkCall() {
    std::lock_guard<std::mutex> hold(g_callLock);
    if (!g_link || g_stopping)
        return;
    link_ = g_link.get();
    ++g_calls;
}

LinkCall::~LinkCall() {
    if (!link_)
        return;
    std::lock_guard<std::mutex> hold(g_callLock);
    if (--g_calls == 0)
        g_callsLeft.notify_all();
}

void SetMessageBoxFunction(MessageBoxFunction fn) {
    g_messageBox = fn;
}

void ShowLinkMessage(const char* text) {
    MessageBoxFunction fn = g_messageBox.load();
    if (fn) {
        fn(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text);
}

int StartLink(WindowHandle notifyWindow, std::span<const StationEntry> entries) {
    if (g_link) {
        LogError("SDKInit: link already started", 255, 255);
        return 0;
    }
    auto link = std::make_unique<Link>();
    if (!link->stop.Valid()) {
        // The readers could not be told to stop: refuse rather than start
        // threads that cannot be ended.
        LogError("SDKInit: no descriptor for the stop event", 255, 255);
        return 0;
    }
    const SiteFolders folders = CurrentSiteFolders();
    link->programDir = folders.program;
    link->txtDir = folders.txt;
    link->swapDir = folders.swap;
    link->notifyWindow = notifyWindow;
    int err = 0;
    link->notices = Outbox::Create(notifyWindow, kOutboxCapacity, &KeepSentNotice, &err);
    if (!link->notices) {
        char text[80];
        std::snprintf(text, sizeof text, "SDKInit: cannot start the notices' outbox (%d)", err);
        LogError(text, 255, 255);
        return 0;
    }

    for (const StationEntry& entry : entries) {
        if (entry.hostId > kMaxHostId || entry.terminalCount == 0)
            continue;
        auto station = std::make_unique<StationLink>();
        station->hostId = entry.hostId;
        station->position = static_cast<uint8_t>(link->stations.size());
        if (!OpenStationPort(*link, entry, *station))
            continue;
        for (size_t t = 0; t < entry.terminalCount && t < kMaxTerminalsPerStation; ++t)
            station->terminals.push_back(std::make_unique<TerminalLink>(
                entry.terminalIds[t], link->shortMessages[entry.terminalIds[t]]));
        link->stations.push_back(std::move(station));
    }
    if (link->stations.empty())
        return 0;

    {
        std::lock_guard<std::mutex> hold(g_callLock);
        g_link = std::move(link);
    }
    Link& l = *g_link;
    try {
        for (auto& sp : l.stations) {
            StationLink& s = *sp;
            s.holdFlag = 0;
            s.lastFragment = 0;
            s.writer = StartStationThread(WriterThread, l, s);
            s.beacon = StartStationThread(BeaconThread, l, s);
            s.handler = StartStationThread(FrameHandlerThread, l, s);
            s.reader = StartStationThread(ReaderThread, l, s);
            s.replySender = StartStationThread(ReplySenderThread, l, s);
        }
    } catch (const std::system_error& e) {
        // Out of threads: end the ones started and refuse the start.
        char text[80];
        std::snprintf(text, sizeof text, "SDKInit: cannot start a station thread (%s)", e.what());
        LogError(text, 255, 255);
        StopLink();
        return 0;
    }
    return 1;
}

void StopLink() {
    {
        std::lock_guard<std::mutex> hold(g_callLock);
        if (!g_link)
            return;
        g_stopping = true;
    }
    Link& l = *g_link;
    l.run.Reset();
    SleepMs(kStopGrace);
    // A call waiting for an acknowledgement ends at the stop event.
    l.stop.Set();
    {
        std::unique_lock<std::mutex> hold(g_callLock);
        g_callsLeft.wait(hold, [] { return g_calls == 0; });
    }
    // Every station thread ends at the stop event; the joins wait for that.
    for (auto& s : l.stations) {
        for (std::thread* t : {&s->writer, &s->beacon, &s->handler, &s->reader, &s->replySender})
            if (t->joinable())
                t->join();
    }
    // Workers wait on the stop event too; after this nothing uses the
    // stations any more, and the ports, queues and events can go.
    l.workers.JoinAll();
    // Nothing posts any more; what waits for a busy window goes now.
    l.notices->Stop();
    std::unique_ptr<Link> stopped;
    {
        std::lock_guard<std::mutex> hold(g_callLock);
        stopped = std::move(g_link);
        g_stopping = false;
    }
}

uint8_t FindStation(Link& link, uint8_t hostId) {
    for (size_t i = 0; i < link.stations.size(); ++i)
        if (link.stations[i]->hostId == hostId)
            return static_cast<uint8_t>(i);
    LogError("Invalid host id", hostId, 255);
    return kNotFound;
}

uint8_t FindTerminal(Link& link, uint8_t station, uint8_t dcbId) {
    if (station < link.stations.size()) {
        const auto& terminals = link.stations[station]->terminals;
        for (size_t i = 0; i < terminals.size(); ++i)
            if (terminals[i]->dcbId == dcbId)
                return static_cast<uint8_t>(i);
    }
    LogError("Invalid Dcb id", 255, dcbId);
    return kNotFound;
}

}  // namespace qm
