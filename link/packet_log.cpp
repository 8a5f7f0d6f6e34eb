#include "link/packet_log.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/app_log.h"
#include "platform/clock.h"

namespace qm {
namespace {

constexpr char kPacketLogFile[] = "QMPktLog.txt";

// One lock serialises whole calls: the writer and reader threads of every
// station log here, and the reference time must be read and replaced by one
// caller at a time or two lines would claim the same interval.
std::mutex g_lock;
PacketLogTickSource g_tickSource = nullptr;
bool g_haveReference = false;
uint32_t g_reference = 0;

uint32_t Now() {
    return g_tickSource ? g_tickSource() : TickCount();
}

// The tag of an entry: "[R] " for received frames, "[S] " for sent ones,
// "[E<n>] " for the assembler's rejection n.
constexpr int kReceivedTag = static_cast<int>(AssemblerEvent::kFrame);
constexpr int kSentTag = 1;

void AppendTag(std::string& line, int tag) {
    char text[24];
    if (tag == kSentTag) {
        line += "[S] ";
    } else if (tag == kReceivedTag) {
        line += "[R] ";
    } else if (std::snprintf(text, sizeof text, "[E%d] ", tag) > 0) {
        line += text;
    }
}

std::string FormatLine(uint32_t elapsedMs, int tag, const uint8_t* bytes, size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(16 + 3 * length + 2);
    char ms[16];
    // Tick differences are taken modulo 2^32, so they stay right when the
    // tick count wraps after about 49 days.
    if (std::snprintf(ms, sizeof ms, "%.4u ", static_cast<unsigned>(elapsedMs)) > 0)
        line += ms;
    AppendTag(line, tag);
    for (size_t i = 0; i < length; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
        line += ' ';
    }
    line += "\r\n";
    return line;
}

void LogTagged(int tag, const uint8_t* bytes, size_t length) {
    if (bytes == nullptr)
        length = 0;
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_haveReference) {
        g_reference = Now();
        g_haveReference = true;
    }
    if (!LogEnabled(kLogPackets))
        return;

    FILE* f = std::fopen(kPacketLogFile, "ab");
    if (f == nullptr)
        return;
    const std::string line = FormatLine(Now() - g_reference, tag, bytes, length);
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    g_reference = Now();
}

}  // namespace

void LogPacket(PacketKind kind, const uint8_t* bytes, size_t length) {
    LogTagged(kind == PacketKind::kSent ? kSentTag : kReceivedTag, bytes, length);
}

void LogPacket(AssemblerEvent event, const uint8_t* bytes, size_t length) {
    LogTagged(static_cast<int>(event), bytes, length);
}

void SetPacketLogTickSourceForTest(PacketLogTickSource source) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_tickSource = source;
}

void ResetPacketLogReferenceForTest() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_haveReference = false;
    g_reference = 0;
}

}  // namespace qm
