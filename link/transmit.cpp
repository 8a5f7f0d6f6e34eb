#include "link/transmit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "link/link_params.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace qm {
namespace {

enum class AckResult { kAcked, kNoAck, kStopped };

// Fixed gaps of the link's timing: after handing a frame's retries to a
// worker, and after handing a page to a page sender, the caller (the frame
// handler) pauses this long before it takes the terminal's next frame. They
// are part of the exchange's pace the terminals are used to, not waits for
// the worker, which needs no head start: its frame is queued already, or it
// queues its own.
constexpr uint32_t kRetryWorkerStartPause = 2;
constexpr uint32_t kPageSenderStartPause = 5;

// Sends the frame already queued, then fresh copies, until the terminal
// acknowledges or the attempts are used up. No copy is queued after the last
// attempt: a frame nobody waits for would only disturb the next exchange.
AckResult AwaitAck(Link& link, StationLink& station, TerminalLink& terminal, const Frame& frame,
                   uint32_t attempts, OnAck onAck) {
    for (uint32_t a = 0; a < attempts; ++a) {
        if (a > 0) {
            terminal.ack.Reset();
            AppendFrame(station, frame);
        }
        station.wake.Set();
        int r = WaitAny({&terminal.ack, &link.stop}, kAckWait);
        if (r == 0) {
            if (onAck == OnAck::kSetIdle)
                terminal.idle.Set();
            return AckResult::kAcked;
        }
        if (r == 1)
            return AckResult::kStopped;
    }
    // Unanswered: the exchange is over all the same.
    if (onAck == OnAck::kSetIdle)
        EndExchange(terminal);
    return AckResult::kNoAck;
}

// One page of the reply: up to four fragments, each acknowledged before the
// next. Whatever the outcome the page is over and the terminal idle again.
bool SendPage(Link& link, uint8_t stationPos, uint8_t terminalPos, const ReplyState& reply,
              const uint8_t* page, uint32_t n) {
    StationLink& station = *link.stations[stationPos];
    TerminalLink& terminal = *station.terminals[terminalPos];
    bool ok = true;
    for (uint32_t f = 0; f < kFragmentsPerPage && f * kMaxPayload < n; ++f) {
        uint32_t len = std::min<uint32_t>(kMaxPayload, n - f * kMaxPayload);
        auto frame = BuildDataFrame(terminal.dcbId, reply.command, reply.fragmentTotal,
                                    kFragmentsPerPage * reply.pageIndex + f + 1,
                                    {page + f * kMaxPayload, len});
        if (!frame || !SendMACFrame(link, stationPos, terminalPos, *frame, Carrier::kCaller,
                                    OnAck::kKeepBusy)) {
            if (!frame)
                LogError("BuildDataFrame Error", station.hostId, terminal.dcbId);
            ok = false;
            break;
        }
    }
    // Paging is open again before the beacon may move on.
    terminal.EndPage(reply.generation, ok);
    terminal.idle.Set();
    return ok;
}

}  // namespace

void EndExchange(TerminalLink& terminal) {
    if (terminal.Reply().pagesSending > 0)
        return;
    terminal.idle.Set();
}

void EndExchange(Link& link, uint8_t hostId, uint8_t dcbId) {
    for (const auto& station : link.stations) {
        if (station->hostId != hostId)
            continue;
        for (const auto& terminal : station->terminals)
            if (terminal->dcbId == dcbId)
                EndExchange(*terminal);
    }
}

bool AppendFrame(StationLink& station, const Frame& frame) {
    if (frame.length == 0 || frame.length > kMaxFrame)
        return false;
    bool filled = false;
    uint32_t drainedAfter = 0;  // frames refused in a stretch that ended now
    bool taken = false;
    {
        std::lock_guard<std::mutex> hold(station.queueLock);
        if (station.txQueue.size() >= kTxQueueMax) {
            filled = !station.txQueueFull;
            station.txQueueFull = true;
            ++station.txRefused;
        } else {
            station.txQueue.push_back(frame);
            taken = true;
            // The stretch ends only at half: a producer that keeps the
            // queue at the brim would otherwise start a new one with every
            // frame the writer takes.
            if (station.txQueueFull && station.txQueue.size() <= kTxQueueMax / 2) {
                station.txQueueFull = false;
                drainedAfter = std::exchange(station.txRefused, 0);
            }
        }
    }
    // Logged outside the lock: the writer must not wait for a file.
    if (filled) {
        char text[80];
        std::snprintf(text, sizeof text, "Transmit queue full (%zu frames): frames refused",
                      kTxQueueMax);
        LogError(text, station.hostId, 255);
    }
    if (drainedAfter > 0) {
        char text[80];
        std::snprintf(text, sizeof text, "Transmit queue drained: %u frames refused meanwhile",
                      drainedAfter);
        LogError(text, station.hostId, 255);
    }
    return taken;
}

void SendControlFrame(StationLink& station, TerminalLink& terminal, uint8_t command) {
    auto frame = BuildControlFrame(terminal.dcbId, command);
    if (!frame)
        return;
    terminal.ack.Reset();
    AppendFrame(station, *frame);
    station.wake.Set();
}

int SendMACFrame(Link& link, uint8_t stationPos, uint8_t terminalPos, const Frame& frame,
                 Carrier carrier, OnAck onAck) {
    if (stationPos >= link.stations.size() ||
        terminalPos >= link.stations[stationPos]->terminals.size()) {
        LogError("SendMACFrame hCom Error", stationPos, terminalPos);
        return 0;
    }
    StationLink& station = *link.stations[stationPos];
    TerminalLink& terminal = *station.terminals[terminalPos];
    // Whatever ends the sending before an acknowledgement is awaited ends a
    // last frame's exchange too.
    const auto unsent = [&](int result) {
        if (onAck == OnAck::kSetIdle)
            EndExchange(terminal);
        return result;
    };
    if (!station.portUp) {
        LogError("SendMACFrame hCom Error", stationPos, terminalPos);
        return unsent(0);
    }
    const uint32_t attempts = Params().retryTimes;
    terminal.ack.Reset();
    if (!AppendFrame(station, frame)) {
        LogError("SendMACFrame Ack Timeout", stationPos, terminalPos);
        return unsent(0);
    }
    if (attempts == 0) {
        // Queued without waking the writer: the frame leaves with the
        // station's next woken frame, and nobody awaits its acknowledgement.
        if (carrier == Carrier::kWorker)
            return unsent(1);
        LogError("SendMACFrame Ack Timeout", stationPos, terminalPos);
        return unsent(0);
    }
    if (carrier == Carrier::kWorker) {
        // The retry worker has its own copy of the frame; it logs nothing.
        if (!link.workers.Start([&link, &station, &terminal, frame, attempts, onAck] {
                AwaitAck(link, station, terminal, frame, attempts, onAck);
            })) {
            // Nobody to carry the retries: the frame goes out once.
            station.wake.Set();
            return unsent(0);
        }
        SleepMs(kRetryWorkerStartPause);
        return 1;
    }
    switch (AwaitAck(link, station, terminal, frame, attempts, onAck)) {
        case AckResult::kAcked:
            return 1;
        case AckResult::kStopped:
            return 0;  // cut short by the stop of the link, not a timeout
        case AckResult::kNoAck:
            break;
    }
    LogError("SendMACFrame Ack Timeout", stationPos, terminalPos);
    return 0;
}

std::optional<Frame> BuildReplyFrame(const TerminalLink& terminal, uint8_t command,
                                     uint32_t fragmentIndex, std::span<const uint8_t> payload) {
    return BuildDataFrame(terminal.dcbId, command, terminal.Reply().fragmentTotal,
                          fragmentIndex + 1, payload);
}

std::string SpillPath(const Link& link, uint8_t dcbId, uint8_t hostId) {
    char name[32];
    std::snprintf(name, sizeof name, "/Swap_%.2d_%.2d", dcbId, hostId);
    return link.swapDir + name;
}

int SpillReply(const Link& link, uint8_t dcbId, uint8_t hostId, const uint8_t* bytes,
               uint32_t length) {
    const std::string path = SpillPath(link, dcbId, hostId);
    bool written = WriteWholeFile(path, bytes, length);
    if (!written && errno == ENOENT) {
        CreateFolder(link.swapDir);
        written = WriteWholeFile(path, bytes, length);
    }
    if (written)
        return 1;
    // A full disk leaves a piece of this reply, or an earlier reply whose
    // file could not be reopened; a terminal paging on would be served
    // either under this reply's header. Without the file it is refused.
    DeleteFile(path);
    return 0;
}

uint32_t ReadPage(const Link& link, uint8_t dcbId, uint8_t hostId, uint32_t pageIndex,
                  uint8_t* page) {
    return static_cast<uint32_t>(ReadFileAt(SpillPath(link, dcbId, hostId),
                                            static_cast<uint64_t>(pageIndex) * kPageSize, page,
                                            kPageSize));
}

int SendCurrentPage(Link& link, uint8_t stationPos, uint8_t terminalPos, Carrier carrier) {
    StationLink& station = *link.stations[stationPos];
    TerminalLink& terminal = *station.terminals[terminalPos];
    const ReplyState reply = terminal.Reply();
    std::vector<uint8_t> page(kPageSize);
    uint32_t n = ReadPage(link, terminal.dcbId, station.hostId, reply.pageIndex, page.data());
    if (n == 0) {
        terminal.EndPage(reply.generation, false);
        LogError("SendDataFrame len=0 Error", station.hostId, terminal.dcbId);
        EndExchange(terminal);
        return 0;
    }
    page.resize(n);
    if (carrier == Carrier::kWorker) {
        if (!link.workers.Start([&link, stationPos, terminalPos, reply, page = std::move(page)] {
                SendPage(link, stationPos, terminalPos, reply, page.data(),
                         static_cast<uint32_t>(page.size()));
            })) {
            terminal.EndPage(reply.generation, false);
            terminal.idle.Set();
            return 0;
        }
        SleepMs(kPageSenderStartPause);
        return 1;
    }
    return SendPage(link, stationPos, terminalPos, reply, page.data(), n) ? 1 : 0;
}

int SendReply(Link& link, uint8_t dcbId, uint8_t hostId, uint8_t command, const uint8_t* data,
              uint32_t length) {
    const uint8_t stationPos = FindStation(link, hostId);
    if (stationPos == kNotFound)
        return 0;
    const uint8_t terminalPos = FindTerminal(link, stationPos, dcbId);
    if (terminalPos == kNotFound)
        return 0;
    TerminalLink& terminal = *link.stations[stationPos]->terminals[terminalPos];
    const uint32_t total = length == 0 ? 1 : (length - 1) / kMaxPayload + 1;

    if (length <= kMaxPayload) {
        terminal.BeginReply(command, total);
        auto frame = BuildReplyFrame(terminal, command, 0, {data, length});
        if (!frame) {
            LogError("BuildDataFrame Error", hostId, dcbId);
            EndExchange(terminal);
            return 0;
        }
        return SendMACFrame(link, stationPos, terminalPos, *frame, Carrier::kCaller,
                            OnAck::kSetIdle);
    }
    // Page 0 goes out from here: paging requests wait until it has.
    const uint32_t generation = terminal.BeginReply(command, total, true);
    if (!SpillReply(link, dcbId, hostId, data, length)) {
        terminal.EndPage(generation, false);
        LogError("SaveSendData Open File Error", hostId, dcbId);
        EndExchange(terminal);
        return 0;
    }
    // A page that cannot be read or sent ends the exchange itself.
    return SendCurrentPage(link, stationPos, terminalPos, Carrier::kCaller);
}

}  // namespace qm
