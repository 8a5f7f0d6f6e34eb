#include "link/reply_sender.h"

#include <cstdio>

#include "link/station_threads.h"
#include "link/transmit.h"
#include "platform/app_log.h"

namespace qm {
namespace {

bool TakeReply(StationLink& station, PendingReply* out) {
    std::lock_guard<std::mutex> hold(station.replyQueueLock);
    if (station.replyQueue.empty())
        return false;
    *out = std::move(station.replyQueue.front());
    station.replyQueue.pop_front();
    return true;
}

void LogUnsentAtStop(StationLink& station) {
    size_t left = 0;
    {
        std::lock_guard<std::mutex> hold(station.replyQueueLock);
        left = station.replyQueue.size();
    }
    if (left == 0)
        return;
    char text[80];
    std::snprintf(text, sizeof text, "%zu replies not sent: the link stopped", left);
    LogError(text, station.hostId, 255);
}

}  // namespace

int QueueReply(Link& link, uint8_t dcbId, uint8_t hostId, uint8_t command,
               std::span<const uint8_t> data) {
    const uint8_t stationPos = FindStation(link, hostId);
    if (stationPos == kNotFound)
        return 0;
    const uint8_t terminalPos = FindTerminal(link, stationPos, dcbId);
    if (terminalPos == kNotFound)
        return 0;
    StationLink& station = *link.stations[stationPos];
    {
        std::lock_guard<std::mutex> hold(station.replyQueueLock);
        if (station.replyQueue.size() < kReplyQueueDepth) {
            station.replyQueue.push_back(
                PendingReply{dcbId, command, std::vector<uint8_t>(data.begin(), data.end())});
            station.replyReady.Set();
            return 1;
        }
    }
    LogError("Reply queue full, reply dropped", hostId, dcbId);
    EndExchange(*station.terminals[terminalPos]);
    return 0;
}

void ReplySenderThread(Link& link, StationLink& station, std::latch& ready) {
    ready.count_down();
    for (;;) {
        if (WaitAny({&link.stop, &station.replyReady}, kInfinite) != 1)
            break;
        PendingReply reply;
        while (!link.stop.IsSet() && TakeReply(station, &reply)) {
            const auto length = static_cast<uint32_t>(reply.data.size());
            if (!SendReply(link, reply.dcbId, station.hostId, reply.command, reply.data.data(),
                           length) &&
                !link.stop.IsSet())
                LogError("Send Error", station.hostId, 0);
        }
    }
    LogUnsentAtStop(station);
}

}  // namespace qm
