#include "link/packet_log.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace qm {
namespace {

constexpr char kPacketLogFile[] = "QMPktLog.txt";

// One lock serialises whole calls: the writer and reader threads of every
// station log here, and the reference time must be read and replaced by one
// caller at a time or two lines would claim the same interval.
std::mutex g_lock;
PacketLogTickSource g_tickSource = nullptr;
PacketLogWallClock g_wallClock = nullptr;
bool g_haveReference = false;
uint32_t g_reference = 0;

uint32_t Now() {
    return g_tickSource ? g_tickSource() : TickCount();
}

LocalTimeMs WallNow() {
    return g_wallClock ? g_wallClock() : LocalTimeNowMs();
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

// "| <host> <port> <date> <time>", after the blank of the last byte: the
// port name as one field that the reader can split off by its blanks.
void AppendStationAndTime(std::string& line, const PacketStation& station, const LocalTimeMs& t) {
    line += "| ";
    line += std::to_string(station.hostId);
    line += ' ';
    const std::string_view port = station.port.substr(0, kPortNameMax);
    size_t written = 0;
    for (const char c : port) {
        const auto b = static_cast<uint8_t>(c);
        if (b == 0)
            break;
        line += (b <= 0x20 || b == 0x7F || c == '|') ? '?' : c;
        ++written;
    }
    if (written == 0)
        line += '-';
    char text[40];
    const std::tm& tm = t.local;
    const int n = std::snprintf(text, sizeof text, " %04d-%02d-%02d %02d:%02d:%02d.%03u",
                                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                tm.tm_sec, static_cast<unsigned>(t.ms % 1000));
    if (n > 0 && static_cast<size_t>(n) < sizeof text)
        line += text;
}

std::string FormatLine(uint32_t elapsedMs, int tag, const uint8_t* bytes, size_t length,
                       const PacketStation& station, const LocalTimeMs& wall) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(16 + 3 * length + 40);
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
    AppendStationAndTime(line, station, wall);
    line += "\r\n";
    return line;
}

void LogTagged(const PacketStation& station, int tag, const uint8_t* bytes, size_t length) {
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
    const std::string line =
        FormatLine(Now() - g_reference, tag, bytes, length, station, WallNow());
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    g_reference = Now();
}

}  // namespace

void LogPacket(const PacketStation& station, PacketKind kind, const uint8_t* bytes, size_t length) {
    LogTagged(station, kind == PacketKind::kSent ? kSentTag : kReceivedTag, bytes, length);
}

void LogPacket(const PacketStation& station, AssemblerEvent event, const uint8_t* bytes,
               size_t length) {
    LogTagged(station, static_cast<int>(event), bytes, length);
}

void SetPacketLogTickSourceForTest(PacketLogTickSource source) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_tickSource = source;
}

void SetPacketLogWallClockForTest(PacketLogWallClock clock) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_wallClock = clock;
}

void ResetPacketLogReferenceForTest() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_haveReference = false;
    g_reference = 0;
}

}  // namespace qm
