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
// How late a visit may begin after its slot and still keep the slot: the
// write pause, which the first wait of the dwell covers on top of
// BeaconInterVal. A visit that keeps its slot therefore still gives the
// terminal at least BeaconInterVal to answer, and a beacon thread woken a few
// milliseconds late on a busy machine does not lose a whole visit.
constexpr int64_t kOnTime = kWritePause;

// Quiet visits of every station keep to one schedule: slots one quiet visit
// (BeaconInterVal plus the write pause) apart, counted from the zero of the
// monotonic clock. The beacon threads' dwells therefore end at the same
// moments, and after them the writers' pauses, so that one wake-up of an idle
// processor serves every station instead of each station waking it twice.
int64_t FirstSlotFrom(int64_t time, int64_t period) {
    return (time + period - 1) / period * period;
}

void SendBeacon(StationLink& station, TerminalLink& terminal) {
    auto frame = terminal.pendingShortMessages > 0
                     ? BuildControlFrame(terminal.dcbId, kCmdShortMessageBeacon)
                     : BuildBeaconFrame(terminal.dcbId);
    if (!frame)
        return;
    terminal.ack.Reset();
    AppendFrame(station, *frame);
    station.wake.Set();
}

}  // namespace

void BeaconThread(Link& link, StationLink& station, std::latch& ready) {
    size_t position = 0;
    uint32_t hold = 0;
    int64_t slot = -1;  // the slot the coming visit keeps, if any
    ready.count_down();
    for (;;) {
        if (WaitAny({&link.stop, &link.run}, kInfinite) != 1)
            return;
        if (position >= station.terminals.size())
            position = 0;
        TerminalLink& terminal = *station.terminals[position];
        SendBeacon(station, terminal);
        const int64_t sent = MonotonicMs();

        // Dwell while the terminal keeps sending. The first wait also covers
        // the writer's pause before the beacon reaches the line, so that the
        // terminal has the whole BeaconInterVal to answer. It ends on a slot:
        // the next one when this visit began on its own, else the first that
        // leaves the whole wait (a visit after a busy one, or after a pause
        // of the beacons, comes back onto the schedule by waiting longer).
        const int64_t period = Params().beaconInterval + kWritePause;
        const int64_t dwellEnd = slot >= 0 && sent - slot <= kOnTime
                                     ? slot + period
                                     : FirstSlotFrom(sent + period, period);
        bool quiet = true;
        for (bool first = true;; first = false) {
            terminal.activity.Reset();
            int r = first ? WaitAnyUntil({&link.stop, &terminal.activity}, dwellEnd)
                          : WaitAny({&link.stop, &terminal.activity}, Params().beaconInterval);
            if (r == 0)
                return;
            if (r != 1)
                break;
            quiet = false;
            SleepMs(kDwellPause);
        }
        slot = quiet ? dwellEnd : -1;
        // An exchange with the terminal is outstanding until its reply has
        // gone out; give it that time before polling the next one.
        if (WaitAny({&link.stop, &terminal.idle}, Params().beaconTimeout) == 0)
            return;

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
