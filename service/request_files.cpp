#include "service/request_files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/app_log.h"
#include "platform/back_end_file.h"
#include "platform/files.h"
#include "service/code_table.h"
#include "service/qmsdk.h"

namespace qm {
namespace {

// The last-request memory. Written when a request file has been written,
// read when a reply file comes; a program using the library may do the two on
// different threads.
struct LastRequests {
    std::mutex lock;
    // The code of the most recent request, by host id << 8 | DCB id. At most
    // one entry per terminal of the site: a few thousand at the very most.
    std::unordered_map<uint16_t, uint8_t> codes;
    std::array<std::optional<uint8_t>, 256> requester;  // by host id
};

LastRequests& Memory() {
    static LastRequests memory;
    return memory;
}

uint16_t TerminalKey(uint8_t hostId, uint8_t dcbId) {
    return static_cast<uint16_t>(hostId << 8 | dcbId);
}

void Remember(uint8_t hostId, uint8_t dcbId, uint8_t code) {
    LastRequests& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.codes[TerminalKey(hostId, dcbId)] = code;
    m.requester[hostId] = dcbId;
}

constexpr int kHeaderRead = 50;  // the header line: at most 49 characters
constexpr int kBodyRead = 260;   // body lines: at most 259 characters at a time
constexpr uint32_t kSlot = 20;   // reply lines travel in 20-byte slots
constexpr uint32_t kLogonReplyLength = 11;
// How long a request notice waits for a back-end whose window has stopped
// taking messages (its queue full) before the notice counts as lost.
constexpr int kNoticeWaitMs = 1000;

std::string HostFile(const std::string& txtDir, char prefix, uint8_t hostId) {
    char name[16];
    std::snprintf(name, sizeof name, "/%c%d.txt", prefix, hostId);
    return txtDir + name;
}

// The three characters at 5..7 of the header, read as a decimal number:
// leading blanks allowed, reading stops at the first other character.
unsigned HeaderDcbId(const char* line) {
    const size_t len = std::strlen(line);
    unsigned value = 0;
    size_t i = 5;
    while (i < 8 && i < len && line[i] == ' ') ++i;
    for (; i < 8 && i < len && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + static_cast<unsigned>(line[i] - '0');
    return value;
}

}  // namespace

void ResetLastRequests() {
    LastRequests& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    m.codes.clear();
    m.requester.fill(std::nullopt);
}

std::optional<uint8_t> LastRequestCode(uint8_t hostId, uint8_t dcbId) {
    LastRequests& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    const auto it = m.codes.find(TerminalKey(hostId, dcbId));
    if (it == m.codes.end())
        return std::nullopt;
    return it->second;
}

std::optional<uint8_t> LastRequester(uint8_t hostId) {
    LastRequests& m = Memory();
    std::lock_guard<std::mutex> hold(m.lock);
    return m.requester[hostId];
}

const char* ReplyRefusalText(ReplyRefusal refusal) {
    switch (refusal) {
        case ReplyRefusal::kNone:
            return "accepted";
        case ReplyRefusal::kFileMissing:
            return "file missing";
        case ReplyRefusal::kUnreadableHeader:
            return "unreadable header";
        case ReplyRefusal::kShortMessage:
            return "short messages go through DX.txt";
        case ReplyRefusal::kNoRequest:
            return "no request from that terminal";
        case ReplyRefusal::kOtherCode:
            return "another code was asked last";
    }
    return "?";
}

std::string FormatRequestFile(uint8_t dcbId, uint8_t code, std::span<const uint8_t> data) {
    const char* name = CodeName(code);
    char header[16];
    std::snprintf(header, sizeof header, "%s %.3d\r\n", name ? name : "UNKN", dcbId);
    std::string text(header);
    std::string body;
    if (ConvertRequest(code, data, &body))
        text += body;
    return text;
}

bool WriteRequestFile(const std::string& txtDir, const RequestNoticePost& post, uint8_t hostId,
                      uint8_t dcbId, uint8_t code, std::span<const uint8_t> data) {
    const std::string path = HostFile(txtDir, 'T', hostId);
    const std::string text = FormatRequestFile(dcbId, code, data);
    // Written beside the old file and renamed over it: a back-end still
    // reading the previous request sees it whole, and a write that fails
    // (a full disk) leaves it as it was.
    const bool ok = ReplaceFile(path, text.data(), text.size());
    // A request file cut short by a full disk must not be announced: the
    // back-end would book a different order than the waiter took.
    if (!ok) {
        LogError("SDKSaveTxFile Write Error", hostId, dcbId);
        return false;
    }
    // Remembered before the notice goes out: a back-end that links the
    // library may read the reply on another thread as soon as it has it.
    Remember(hostId, dcbId, code);
    // The notice is the order's only way to the back-end: the poster keeps
    // it for a back-end that falls behind for a moment. A refusal of a full
    // outbox is in the log already, once for the whole stretch.
    if (!post(hostId) && errno != ENOBUFS)
        LogError("PostMessage Error", hostId, dcbId);
    return true;
}

bool WriteRequestFile(const std::string& txtDir, WindowHandle window, uint8_t hostId, uint8_t dcbId,
                      uint8_t code, std::span<const uint8_t> data) {
    const RequestNoticePost post = [window](uint8_t host) {
        return PostMessageWithin(window, WM_POS_NOTICE, 0, host, kNoticeWaitMs);
    };
    return WriteRequestFile(txtDir, post, hostId, dcbId, code, data);
}

namespace {

// What the reply file's header names, and whether it answers the terminal's
// most recent request.
ReplyRefusal JudgeHeader(uint8_t hostId, const char* header, ReplyResult* out) {
    const uint8_t code = FindCodeByName(header);
    if (code == 255)
        return ReplyRefusal::kUnreadableHeader;
    out->code = code;
    out->dcbId = static_cast<uint8_t>(HeaderDcbId(header));
    if (code == kCodeShortMessage)
        return ReplyRefusal::kShortMessage;
    const std::optional<uint8_t> asked = LastRequestCode(hostId, out->dcbId);
    if (!asked)
        return ReplyRefusal::kNoRequest;
    return *asked == code ? ReplyRefusal::kNone : ReplyRefusal::kOtherCode;
}

// The refusal's log line: the station and the DCB id the header names in the
// line's numbers, the header's name and the reason in its text.
void LogRefusal(uint8_t hostId, const ReplyResult& r) {
    if (!LogEnabled(kLogErrors))
        return;
    char text[160];
    switch (r.refusal) {
        case ReplyRefusal::kFileMissing:
        case ReplyRefusal::kUnreadableHeader:
            std::snprintf(text, sizeof text, "Reply refused: %s", ReplyRefusalText(r.refusal));
            AppLog(text, hostId, 255);
            return;
        case ReplyRefusal::kOtherCode: {
            const std::optional<uint8_t> asked = LastRequestCode(hostId, r.dcbId);
            const char* name = asked ? CodeName(*asked) : nullptr;
            std::snprintf(text, sizeof text, "Reply refused (%s): %s (%s)", CodeName(r.code),
                          ReplyRefusalText(r.refusal), name ? name : "UNKN");
            break;
        }
        default:
            std::snprintf(text, sizeof text, "Reply refused (%s): %s", CodeName(r.code),
                          ReplyRefusalText(r.refusal));
            break;
    }
    AppLog(text, hostId, r.dcbId);
}

ReplyResult Refused(uint8_t hostId, const ReplyResult& named, ReplyRefusal refusal) {
    ReplyResult r = named;
    r.length = 0;
    r.refusal = refusal;
    LogRefusal(hostId, r);
    return r;
}

}  // namespace

int ReadReplyFile(const std::string& txtDir, uint8_t hostId, uint8_t* data, size_t capacity,
                  ReplyResult* out) {
    out->length = 0;
    char name[16];
    std::snprintf(name, sizeof name, "R%d.txt", hostId);
    FileHandle f = OpenBackEndFile(txtDir, name);
    if (!f) {
        *out = Refused(hostId, *out, ReplyRefusal::kFileMissing);
        return 0;
    }

    char header[kHeaderRead] = {};
    if (!std::fgets(header, sizeof header, f.get())) {
        *out = Refused(hostId, *out, ReplyRefusal::kUnreadableHeader);
        return 0;
    }
    ReplyResult named = *out;
    const ReplyRefusal refusal = JudgeHeader(hostId, header, &named);
    if (refusal != ReplyRefusal::kNone) {
        *out = Refused(hostId, refusal == ReplyRefusal::kUnreadableHeader ? *out : named, refusal);
        return 0;
    }
    out->code = named.code;
    out->dcbId = named.dcbId;
    out->refusal = ReplyRefusal::kNone;

    char line[kBodyRead];
    if (out->code == kCodeLogon) {
        if (!std::fgets(line, sizeof line, f.get()))
            line[0] = '\0';
        line[std::strcspn(line, "\r\n")] = '\0';
        size_t at = 0;
        if (line[0] == '1' && capacity > 0)
            data[at++] = 0x01;
        const char* text = line[0] ? line + 1 : line;
        text += std::strspn(text, " \t");
        const size_t n = std::min(std::strlen(text), capacity - std::min(capacity, at));
        std::memcpy(data + at, text, n);
        // The verdict always takes 11 bytes of the caller's buffer, never more
        // than the buffer has.
        out->length = static_cast<uint32_t>(std::min<size_t>(kLogonReplyLength, capacity));
        return 1;
    }
    while (std::fgets(line, sizeof line, f.get())) {
        const size_t n = std::strcspn(line, "\r\n");
        if (n == 0)
            continue;
        const uint32_t slots = static_cast<uint32_t>((n - 1) / kSlot + 1) * kSlot;
        // The caller's buffer ends here: later lines are not taken.
        if (out->length + slots > capacity)
            break;
        std::memcpy(data + out->length, line, n);
        out->length += slots;
    }
    return 1;
}

}  // namespace qm
