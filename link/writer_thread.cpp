// The writer: the only thread that writes to a station's port. It drains the
// transmit queue frame by frame.
#include "link/packet_log.h"
#include "link/station_threads.h"
#include "link/transmit.h"
#include "platform/clock.h"

namespace qm {
namespace {

bool TakeHead(StationLink& station, Frame* out) {
    std::lock_guard<std::mutex> hold(station.queueLock);
    if (station.txQueue.empty())
        return false;
    *out = station.txQueue.front();
    station.txQueue.pop_front();
    return true;
}

// The write pause may end this much late, so that the pauses of several
// stations that began close together end in one wake-up of the processor.
constexpr uint32_t kPauseSlackUs = 250;
// While a download run or a link test holds the link, every frame waits for
// the terminal's answer to the one before: a late pause end delays the whole
// run, and the beacons that coalescing serves are paused anyway.
constexpr uint32_t kRunSlackUs = 1;

uint32_t SlackFor(const Link& link) {
    return link.downloadRunning || link.testActive ? kRunSlackUs : kPauseSlackUs;
}

}  // namespace

void WriterThread(Link& link, StationLink& station, std::latch& ready) {
    uint32_t slack = kPauseSlackUs;
    SetTimerSlackUs(slack);
    Frame frame;
    ready.count_down();
    for (;;) {
        if (!TakeHead(station, &frame)) {
            if (WaitAny({&link.stop, &station.wake}, kInfinite) != 1)
                return;
            continue;
        }
        if (link.stop.IsSet())
            return;
        if (SlackFor(link) != slack) {
            slack = SlackFor(link);
            SetTimerSlackUs(slack);
        }
        {
            std::lock_guard<std::mutex> hold(station.portLock);
            if (!station.port) {
                // The device is gone. What is queued meanwhile is dropped,
                // not kept for its return: beacons and acknowledgements would
                // be stale by then, and a sender waiting for an answer sends
                // again anyway. The reader counts them in its reopen line.
                station.framesDropped.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            SleepMs(kWritePause);
            // Waits for room in the output queue rather than drop bytes;
            // gives up only when the link stops or the port fails.
            station.port->Write(frame.bytes.data(), frame.length, link.stop);
        }
        LogPacket(PacketKind::kSent, frame.bytes.data(), frame.length);
    }
}

}  // namespace qm
