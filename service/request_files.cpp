#include "service/request_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/app_log.h"
#include "platform/back_end_file.h"
#include "platform/files.h"
#include "service/code_table.h"
#include "service/qmsdk.h"

namespace qm {
namespace {

std::mutex g_lastLock;
uint8_t g_lastCode = 0;
uint8_t g_lastDcbId = 0;

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

void ResetLastRequest() {
    std::lock_guard<std::mutex> hold(g_lastLock);
    g_lastCode = 0;
}

void LastRequest(uint8_t* code, uint8_t* dcbId) {
    std::lock_guard<std::mutex> hold(g_lastLock);
    *code = g_lastCode;
    *dcbId = g_lastDcbId;
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
    // The notice is the order's only way to the back-end: the poster keeps
    // it for a back-end that falls behind for a moment. A refusal of a full
    // outbox is in the log already, once for the whole stretch.
    if (!post(hostId) && errno != ENOBUFS)
        LogError("PostMessage Error", hostId, dcbId);
    std::lock_guard<std::mutex> hold(g_lastLock);
    g_lastCode = code;
    g_lastDcbId = dcbId;
    return true;
}

bool WriteRequestFile(const std::string& txtDir, WindowHandle window, uint8_t hostId, uint8_t dcbId,
                      uint8_t code, std::span<const uint8_t> data) {
    const RequestNoticePost post = [window](uint8_t host) {
        return PostMessageWithin(window, WM_POS_NOTICE, 0, host, kNoticeWaitMs);
    };
    return WriteRequestFile(txtDir, post, hostId, dcbId, code, data);
}

int ReadReplyFile(const std::string& txtDir, uint8_t hostId, uint8_t* data, size_t capacity,
                  ReplyResult* out) {
    out->length = 0;
    char name[16];
    std::snprintf(name, sizeof name, "R%d.txt", hostId);
    FileHandle f = OpenBackEndFile(txtDir, name);
    if (!f)
        return 0;

    uint8_t lastCode, lastDcbId;
    LastRequest(&lastCode, &lastDcbId);

    char header[kHeaderRead] = {};
    if (!std::fgets(header, sizeof header, f.get()))
        return 0;
    const uint8_t code = FindCodeByName(header);
    if (code == 255 || code != lastCode || code == kCodeShortMessage)
        return 0;
    out->code = lastCode;
    if (HeaderDcbId(header) != lastDcbId)
        return 0;
    out->dcbId = lastDcbId;

    char line[kBodyRead];
    if (code == kCodeLogon) {
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
