#include "tools/devsim/frame_text.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "tools/devsim/frame.h"

namespace qm::devsim {

namespace {

std::string Format(const char* fmt, auto... args) {
    std::array<char, 64> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), fmt, args...);
    if (n < 0) {
        return {};
    }
    return std::string(buffer.data(), std::min(static_cast<size_t>(n), buffer.size() - 1));
}

const char* ControlName(uint8_t command, bool fromManager) {
    switch (command) {
        case kCmdAck:
            return "ack";
        case kCmdChecksumError:
            return fromManager ? "checksum-error" : "request";
        case 0x03:
            return fromManager ? "message-beacon" : "page-back";
        case 0x04:
            return fromManager ? "download-done" : "page-forward";
        case kCmdClock:
            return fromManager ? "?" : "clock";
        case kCmdSearch:
            return fromManager ? "search" : "search-answer";
        default:
            return fromManager ? "?" : "request";
    }
}

bool PatternIntact(const Bytes& pattern) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != static_cast<uint8_t>(i + 1)) {
            return false;
        }
    }
    return true;
}

std::string Describe(const Frame& frame, bool fromManager) {
    const std::string checksum = frame.checksumOk ? "" : " BAD-CHECKSUM";
    switch (frame.kind) {
        case FrameKind::kBeacon:
            return "BEACON";
        case FrameKind::kControl:
            return Format("CTRL 0x%02X ", frame.command) + ControlName(frame.command, fromManager);
        case FrameKind::kData:
            return Format("DATA cmd=0x%02X k=%u/%u \"", frame.command, frame.number, frame.total) +
                   Printable(frame.payload) + "\"" + checksum;
        case FrameKind::kTest:
            return Format("TEST seq=%u", frame.sequence) +
                   (PatternIntact(frame.payload) ? "" : " PATTERN-DAMAGED") + checksum;
        case FrameKind::kBroadcast:
            return Format("LINE file=%d rec=%u/%u \"", frame.command - kFirstDownloadCommand,
                          frame.recordNumber, frame.recordTotal) +
                   Printable(frame.payload) + "\"" + checksum;
        case FrameKind::kMalformed:
            break;
    }
    return "BAD (" + frame.problem + ")";
}

}  // namespace

std::string Printable(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (b == '"' || b == '\\') {
            text += '\\';
            text += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            text += Format("\\x%02X", b);
        }
    }
    return text;
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += Format("%02X", b);
    }
    return text;
}

std::string DescribeFrame(const FrameRecord& record, int64_t originUs) {
    const int64_t ms = (record.timeUs - originUs) / 1000;
    const char* sign = ms < 0 ? "-" : "+";
    const int64_t magnitude = ms < 0 ? -ms : ms;
    std::string line =
        Format("%s%" PRId64 ".%03" PRId64 " ", sign, magnitude / 1000, magnitude % 1000);
    line += record.station;
    const bool fromManager = record.direction == Direction::kFromManager;
    line += fromManager ? " -> " : " <- ";
    if (record.raw) {
        return line + "RAW " + Hex(record.bytes);
    }
    const Frame frame = ParseFrame(record.bytes);
    if (frame.kind == FrameKind::kMalformed) {
        return line + "??? " + Describe(frame, fromManager) + " " + Hex(record.bytes);
    }
    if (frame.kind == FrameKind::kBroadcast) {
        return line + "ALL " + Describe(frame, fromManager);
    }
    return line + Format("T%03u ", frame.address) + Describe(frame, fromManager);
}

bool IsPlainBeacon(const FrameRecord& record) {
    return !record.raw && ParseFrame(record.bytes).kind == FrameKind::kBeacon;
}

}  // namespace qm::devsim
