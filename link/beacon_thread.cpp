// The beacon: terminals speak only when polled, so each station's beacon
// thread visits its terminals in table order, dwells on one while it keeps
// sending, and waits for an outstanding exchange with it before moving on.
#include "link/link_params.h"
#include "link/station_threads.h"
#include "link/transmit.h"
#include "platform/clock.h"

namespace qm {
namespace {

// After a frame from the polled terminal, the beacon looks again only after
// this pause, so a terminal in mid-request is not polled over its own frames.
constexpr uint32_t kDwellPause = 50;
// Rounds the beacon stays on a terminal sending a multi-fragment request.
constexpr uint32_t kMaxHoldRounds = 10;

// The writer takes a frame within its 10 ms pause; anything longer means
// the port is stuck, and the beacon goes on rather than wait on it.
constexpr uint32_t kBeaconWriteLimit = 1000;

// Queues the beacon and waits until it has been written. False when the
// link is stopping.
bool SendBeacon(Link& link, StationLink& station, TerminalLink& terminal) {
    auto frame = terminal.pendingShortMessages > 0
                     ? BuildControlFrame(terminal.dcbId, kCmdShortMessageBeacon)
                     : BuildBeaconFrame(terminal.dcbId);
    if (!frame) return true;
    terminal.ack.Reset();
    station.beaconWritten.Reset();
    AppendFrame(station, *frame, &station.beaconWritten);
    station.wake.Set();
    return WaitAny({&link.stop, &station.beaconWritten}, kBeaconWriteLimit) != 0;
}

}  // namespace

void BeaconThread(Link& link, StationLink& station) {
    size_t position = 0;
    uint32_t hold = 0;
    for (;;) {
        if (WaitAny({&link.stop, &link.run}, kInfinite) != 1) return;
        if (position >= station.terminals.size()) position = 0;
        TerminalLink& terminal = *station.terminals[position];
        // The dwell counts from the beacon on the line, so the terminal has
        // the whole BeaconInterVal to answer.
        if (!SendBeacon(link, station, terminal)) return;

        // Dwell while the terminal keeps sending.
        for (;;) {
            terminal.activity.Reset();
            int r = WaitAny({&link.stop, &terminal.activity}, Params().beaconInterval);
            if (r == 0) return;
            if (r != 1) break;
            SleepMs(kDwellPause);
        }
        // An exchange with the terminal is outstanding until its reply has
        // gone out; give it that time before polling the next one.
        if (WaitAny({&link.stop, &terminal.idle}, Params().beaconTimeout) == 0) return;

        if (station.holdFlag) {
            if (++hold > kMaxHoldRounds) {
                station.holdFlag = 0;
                hold = 0;
            }
        } else {
            ++position;
            hold = 0;
        }
    }
}

}  // namespace qm
