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

void SendBeacon(StationLink& station, TerminalLink& terminal) {
    auto frame = terminal.pendingShortMessages > 0
                     ? BuildControlFrame(terminal.dcbId, kCmdShortMessageBeacon)
                     : BuildBeaconFrame(terminal.dcbId);
    if (!frame) return;
    terminal.ack.Reset();
    AppendFrame(station, *frame);
    station.wake.Set();
}

}  // namespace

void BeaconThread(Link& link, StationLink& station) {
    size_t position = 0;
    uint32_t hold = 0;
    for (;;) {
        if (WaitAny({&link.stop, &link.run}, kInfinite) != 1) return;
        if (position >= station.terminals.size()) position = 0;
        TerminalLink& terminal = *station.terminals[position];
        SendBeacon(station, terminal);

        // Dwell while the terminal keeps sending. The first wait also covers
        // the writer's pause before the beacon reaches the line, so that the
        // terminal has the whole BeaconInterVal to answer.
        for (bool first = true;; first = false) {
            terminal.activity.Reset();
            const uint32_t wait = Params().beaconInterval + (first ? kWritePause : 0);
            int r = WaitAny({&link.stop, &terminal.activity}, wait);
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
