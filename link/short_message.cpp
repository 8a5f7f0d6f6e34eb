#include "link/short_message.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/link_params.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/files.h"

namespace qm {
namespace {

// One lock per DCB id: the file of a DCB id is shared by all stations, and
// the queueing side (application thread) and the sender (worker) change it
// and its counts one at a time.
std::array<std::mutex, 256> g_fileLocks;

// Short-message files are tiny; anything far larger is not ours to load.
constexpr size_t kMaxFileSize = 1 << 20;

// Removes the first record: the rest takes the file's place in one step, so
// a crash never leaves a half-written file. False when the file could not be
// rewritten (a full disk) and the record is still first.
bool RemoveFirstRecord(const std::string& swapDir, uint8_t dcbId, size_t recordBytes) {
    const std::string path = ShortMessagePath(swapDir, dcbId);
    const std::optional<std::string> contents = ReadWholeFile(path, kMaxFileSize);
    if (!contents)
        return false;
    recordBytes = std::min(recordBytes, contents->size());
    return ReplaceFile(path, contents->data() + recordBytes, contents->size() - recordBytes);
}

void SendShortMessage(Link& link, StationLink& station, uint8_t stationPos, uint8_t terminalPos) {
    TerminalLink& terminal = *station.terminals[terminalPos];
    std::optional<ShortMessageRecord> record = FirstShortMessage(link.swapDir, terminal.dcbId);
    if (!record)
        return;

    std::vector<uint8_t> payload = ShortMessagePayload(*record);
    terminal.BeginReply(kCmdShortMessage, 1);
    auto frame = BuildReplyFrame(terminal, kCmdShortMessage, 0, payload);
    if (!frame) {
        LogError("BuildDataFrame Error", station.hostId, terminal.dcbId);
        return;
    }
    // Not acknowledged: the message stays first and the next beacon to the
    // terminal announces it again. No file lock is held meanwhile, so
    // SDKSetSMS never waits for a terminal.
    if (!SendMACFrame(link, stationPos, terminalPos, *frame, Carrier::kCaller, OnAck::kSetIdle))
        return;
    FinishShortMessage(link.swapDir, terminal.dcbId, terminal.pendingShortMessages,
                       record->recordBytes);
}

}  // namespace

std::string ShortMessagePath(const std::string& swapDir, uint8_t dcbId) {
    char name[16];
    std::snprintf(name, sizeof name, "/DX_%.2d", dcbId);
    return swapDir + name;
}

std::optional<ShortMessageRecord> ParseFirstRecord(const std::vector<uint8_t>& contents) {
    if (contents.empty())
        return std::nullopt;
    ShortMessageRecord r;
    r.number = contents[0];
    size_t i = 1;
    while (i + 1 < contents.size() && !(contents[i] == '\r' && contents[i + 1] == '\n')) ++i;
    if (i + 1 < contents.size()) {
        r.text.assign(contents.begin() + 1, contents.begin() + static_cast<long>(i));
        r.recordBytes = i + 2;
    } else {
        // A record cut short (the file was damaged): take what is there.
        r.text.assign(contents.begin() + 1, contents.end());
        r.recordBytes = contents.size();
    }
    return r;
}

std::optional<ShortMessageRecord> FirstShortMessage(const std::string& swapDir, uint8_t dcbId) {
    std::lock_guard<std::mutex> hold(g_fileLocks[dcbId]);
    const std::optional<std::string> contents =
        ReadWholeFile(ShortMessagePath(swapDir, dcbId), kMaxFileSize);
    if (!contents)
        return std::nullopt;
    return ParseFirstRecord(std::vector<uint8_t>(contents->begin(), contents->end()));
}

void FinishShortMessage(const std::string& swapDir, uint8_t dcbId, std::atomic<uint32_t>& pending,
                        size_t recordBytes) {
    std::lock_guard<std::mutex> hold(g_fileLocks[dcbId]);
    const uint32_t left = pending.load();
    if (left > 1) {
        // Counted as delivered only once it is out of the file: a record
        // left first would be sent again in place of the last one, which
        // would then never go.
        if (!RemoveFirstRecord(swapDir, dcbId, recordBytes)) {
            LogError("Short message not removed, sent again", 255, dcbId);
            return;
        }
        pending = left - 1;
    } else {
        pending = 0;
        DeleteFile(ShortMessagePath(swapDir, dcbId));
    }
}

std::vector<uint8_t> ShortMessagePayload(const ShortMessageRecord& record) {
    const size_t n = std::min(record.text.size(), kShortMessageTextMax);
    std::vector<uint8_t> p(3 + n);
    p[0] = static_cast<uint8_t>('0' + record.number / 100);
    p[1] = static_cast<uint8_t>('0' + record.number / 10 % 10);
    p[2] = static_cast<uint8_t>('0' + record.number % 10);
    std::copy_n(record.text.begin(), n, p.begin() + 3);
    return p;
}

void QueueShortMessage(Link* link, const std::string& swapDir, uint8_t number, uint8_t dcbId,
                       const uint8_t* text) {
    const char* t =
        reinterpret_cast<const char*>(text ? text : reinterpret_cast<const uint8_t*>(""));
    std::string record(1, static_cast<char>(number));
    record.append(t, std::strcspn(t, "\r\n"));
    record += "\r\n";
    const std::string path = ShortMessagePath(swapDir, dcbId);

    std::lock_guard<std::mutex> hold(g_fileLocks[dcbId]);
    // A record that a full disk took only a part of is cut back: the next
    // record would merge into the piece and both would be lost.
    bool added = AppendWhole(path, record.data(), record.size());
    if (!added && errno == ENOENT) {
        CreateFolder(swapDir);
        added = AppendWhole(path, record.data(), record.size());
    }
    if (!added) {
        LogError("SDKSetSMS Write Error", 255, dcbId);
        return;
    }
    if (!link)
        return;
    bool listed = false;
    for (auto& station : link->stations)
        for (auto& terminal : station->terminals) listed = listed || terminal->dcbId == dcbId;
    if (listed)
        ++link->shortMessages[dcbId].pending;
}

void StartShortMessageSender(Link& link, uint8_t stationPos, uint8_t terminalPos) {
    StationLink& station = *link.stations[stationPos];
    TerminalLink& terminal = *station.terminals[terminalPos];
    if (terminal.shortMessageSending.exchange(true))
        return;
    bool started = link.workers.Start([&link, &station, &terminal, stationPos, terminalPos] {
        SendShortMessage(link, station, stationPos, terminalPos);
        terminal.shortMessageSending = false;
    });
    if (!started)
        terminal.shortMessageSending = false;
}

}  // namespace qm
