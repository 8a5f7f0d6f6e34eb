// The frame handler: checks data frames, acknowledges fragments, answers
// paging and clock requests, reassembles requests and posts each complete one
// to the application window. It never waits for an acknowledgement itself:
// acknowledgements arrive through the reader, so whatever must wait runs in
// a worker.
#include <algorithm>
#include <array>
#include <cerrno>

#include "link/link_params.h"
#include "link/request_notice.h"
#include "link/short_message.h"
#include "link/station_threads.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/clock.h"

namespace qm {
namespace {

// The link's fixed pauses on the frame handler's own road: after starting a
// short-message sender, and between acknowledging a terminal's short message
// and counting the terminal free again, so that the acknowledgement is on
// the line before the beacon moves to the next terminal.
constexpr uint32_t kShortMessageStartPause = 2;
constexpr uint32_t kShortMessageAckPause = 20;

void PostRequest(Link& link, StationLink& station, TerminalLink& terminal, uint8_t command,
                 std::span<const uint8_t> data) {
    // A full outbox has logged its refusals, once for the whole stretch.
    if (!PostRequestNotice(*link.notices, station.hostId, terminal.dcbId, command, data) &&
        errno != ENOBUFS)
        LogError("PostMessage Error", station.hostId, terminal.dcbId);
}

void SendClockReply(Link& link, StationLink& station, uint8_t terminalPos) {
    TerminalLink& terminal = *station.terminals[terminalPos];
    const std::tm local = LocalTimeNow();
    std::array<uint8_t, kClockStampLength + kTitleSize> payload;
    auto stamp = BuildClockStamp(local);
    std::copy(stamp.begin(), stamp.end(), payload.begin());
    auto title = VenueTitle();
    bool unset = std::all_of(title.begin(), title.end(), [](uint8_t b) { return b == 0; });
    if (unset)
        title.fill(' ');
    std::copy(title.begin(), title.end(), payload.begin() + kClockStampLength);

    terminal.BeginReply(kCmdClock, 1);
    auto frame = BuildDataFrame(terminal.dcbId, kCmdClock, 1, 1, payload);
    if (!frame) {
        LogError("BuildDataFrame Error", station.hostId, terminal.dcbId);
        return;
    }
    SendMACFrame(link, station.position, terminalPos, *frame, Carrier::kWorker, OnAck::kSetIdle);
}

void StartPaging(Link& link, StationLink& station, uint8_t terminalPos, bool forward) {
    TerminalLink& terminal = *station.terminals[terminalPos];
    {
        std::lock_guard<std::mutex> hold(terminal.replyLock);
        ReplyState& reply = terminal.reply;
        // One page at a time: a request that comes while a page is going out
        // is ignored, as the terminal asks again once it has that page.
        if (reply.pagesSending > 0)
            return;
        const uint32_t total = reply.fragmentTotal;
        const uint32_t lastPage = total == 0 ? 0 : (total - 1) / kFragmentsPerPage;
        if (forward ? reply.pageIndex >= lastPage : reply.pageIndex == 0)
            return;
        reply.savedPageIndex = reply.pageIndex;
        reply.pageIndex = forward ? reply.pageIndex + 1 : reply.pageIndex - 1;
        ++reply.pagesSending;
    }
    terminal.idle.Reset();
    SendCurrentPage(link, station.position, terminalPos, Carrier::kWorker);
}

// Drops a fragment that cannot belong to the request being reassembled.
void DropFragment(StationLink& station, TerminalLink& terminal) {
    LogError("Fragment out of order, dropped", station.hostId, terminal.dcbId);
}

void Reassemble(Link& link, StationLink& station, TerminalLink& terminal, const Frame& f) {
    const std::span<const uint8_t> frame = f.view();
    const StationLink::MessageOwner owner{terminal.dcbId, frame[3], DataFragmentTotal(frame)};
    const uint8_t k = DataFragmentNumber(frame);
    const std::span<const uint8_t> payload = DataPayload(frame);

    if (k == 1) {
        station.messageOwner = owner;
        station.messagePosted = false;
        station.messageLength = 0;
        station.messageOverflow = false;
        station.lastFragment = 0;
        station.holdFlag = 1;
    } else if (station.messageOwner != owner) {
        DropFragment(station, terminal);
        return;
    }
    if (station.messagePosted) {
        // Only the last fragment comes again after the request went out: the
        // terminal did not get its reply and asks once more.
        if (k != owner.total) {
            DropFragment(station, terminal);
            return;
        }
    } else if (k == station.lastFragment + 1) {
        if (station.messageLength + payload.size() > kMessageBufferSize) {
            // Longer than any request the terminals send: drop it whole
            // rather than hand the back-end a truncated order.
            if (!station.messageOverflow)
                LogError("Request too long, dropped", station.hostId, terminal.dcbId);
            station.messageOverflow = true;
        } else {
            std::copy(payload.begin(), payload.end(),
                      station.message.begin() + station.messageLength);
            station.messageLength += static_cast<uint32_t>(payload.size());
        }
        station.lastFragment = k;
    } else if (k > station.lastFragment) {
        // A fragment missed: what follows can never make the request whole.
        DropFragment(station, terminal);
        if (k != owner.total)
            return;
        station.messageOwner.reset();
    }
    // A repeat of a fragment already stored was acknowledged again; nothing
    // more to do until the last one.
    if (k != owner.total)
        return;
    station.holdFlag = 0;
    station.lastFragment = 0;
    if (!station.messageOwner || station.messageOverflow) {
        station.messageOwner.reset();
        station.messageOverflow = false;
        station.messageLength = 0;
        return;
    }
    station.messagePosted = true;
    // The beacon now waits on this terminal until the reply has gone out. A
    // terminal's short message has had its acknowledgement already and never
    // gets a reply (one would be refused): waiting for it would hold the
    // beacon on this terminal for BeaconTimeout at each of its visits.
    if (owner.command != kCmdShortMessage)
        terminal.idle.Reset();
    PostRequest(link, station, terminal, owner.command,
                {station.message.data(), station.messageLength});
}

void HandleFrame(Link& link, StationLink& station, const Frame& f) {
    const std::span<const uint8_t> frame = f.view();
    const uint8_t terminalPos = FindTerminal(link, station.position, frame[1]);
    if (terminalPos == kNotFound)
        return;
    TerminalLink& terminal = *station.terminals[terminalPos];
    terminal.activity.Set();

    if (frame.size() < 9) {
        if (frame.size() == 4) {
            if (terminal.pendingShortMessages > 0 && !StationBorrowed(link, station)) {
                StartShortMessageSender(link, station.position, terminalPos);
                SleepMs(kShortMessageStartPause);
            }
            return;
        }
        switch (frame[3]) {
            case kCmdClock:
                SendClockReply(link, station, terminalPos);
                return;
            case kCmdPageBack:
                StartPaging(link, station, terminalPos, false);
                return;
            case kCmdPageForward:
                StartPaging(link, station, terminalPos, true);
                return;
            default:
                // A request without data; the beacon does not wait for its reply.
                PostRequest(link, station, terminal, frame[3], {});
                return;
        }
    }

    const uint8_t command = frame[3];
    const bool checksumOk = DataChecksumOk(frame);
    if (command == kCmdTest) {
        // A link test echo: judged for the test when one runs on this
        // station, and never answered.
        RouteTestEcho(link, station, terminalPos, frame);
        return;
    }
    if (!checksumOk) {
        SendControlFrame(station, terminal, kCmdChecksumError);
        return;
    }
    if (command == kCmdShortMessage) {
        terminal.idle.Reset();
        SendControlFrame(station, terminal, kCmdAck);
        SleepMs(kShortMessageAckPause);
        terminal.idle.Set();
    } else {
        const uint8_t total = DataFragmentTotal(frame);
        // The last fragment is not acknowledged here: the reply answers it.
        if (total > 1 && DataFragmentNumber(frame) < total)
            SendControlFrame(station, terminal, kCmdAck);
    }
    Reassemble(link, station, terminal, f);
}

}  // namespace

void HandleReceivedFrame(Link& link, StationLink& station, const Frame& frame) {
    HandleFrame(link, station, frame);
}

void FrameHandlerThread(Link& link, StationLink& station, std::latch& ready) {
    ready.count_down();
    for (;;) {
        if (WaitAny({&link.stop, &station.frameReady}, kInfinite) != 1)
            return;
        for (;;) {
            Frame frame;
            {
                std::lock_guard<std::mutex> hold(station.receiveLock);
                if (station.handOff.empty())
                    break;
                frame = station.handOff.front();
                station.handOff.pop_front();
            }
            // Handled outside the receive lock: the reassembly state belongs
            // to this thread alone, and the reader keeps taking bytes
            // (acknowledgements among them) meanwhile.
            HandleReceivedFrame(link, station, frame);
            if (link.stop.IsSet())
                return;
        }
    }
}

}  // namespace qm
