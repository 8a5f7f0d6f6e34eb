// The writer: the only thread that writes to a station's port. It drains the
// transmit queue frame by frame.
#include "link/packet_log.h"
#include "link/station_threads.h"
#include "platform/clock.h"

namespace qm {
namespace {

// Every write waits this long under the port lock: base stations need a gap
// between frames to turn their radio around.
constexpr uint32_t kWritePause = 10;

bool TakeHead(StationLink& station, TxEntry* out) {
    std::lock_guard<std::mutex> hold(station.queueLock);
    if (station.txQueue.empty()) return false;
    *out = station.txQueue.front();
    station.txQueue.pop_front();
    return true;
}

}  // namespace

void WriterThread(Link& link, StationLink& station) {
    TxEntry entry;
    for (;;) {
        if (!TakeHead(station, &entry)) {
            if (WaitAny({&link.stop, &station.wake}, kInfinite) != 1) return;
            continue;
        }
        if (link.stop.IsSet()) return;
        const Frame& frame = entry.frame;
        {
            std::lock_guard<std::mutex> hold(station.portLock);
            SleepMs(kWritePause);
            // Waits for room in the output queue rather than drop bytes;
            // gives up only when the link stops or the port fails.
            station.port->Write(frame.bytes.data(), frame.length, link.stop);
        }
        // Set even when the write failed: whoever waits must not wait for
        // a port that has gone.
        if (entry.written) entry.written->Set();
        LogPacket(1, frame.bytes.data(), frame.length);
    }
}

}  // namespace qm
