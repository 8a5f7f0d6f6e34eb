#include "tools/pktlog/decode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "link/frame_codec.h"
#include "platform/gbk.h"
#include "platform/serial_port.h"
#include "tools/pktlog/wall_clock.h"

namespace qm::pktlog {
namespace {

// Tags of the log: the kind numbers the link writes ("[R]" is the
// assembler's frame event 0, "[S]" is 1, "[E2]".."[E6]" its rejections).
constexpr int kReceived = 0;
constexpr int kSent = 1;
constexpr int kFirstError = static_cast<int>(AssemblerEvent::kNoEndMarker);
constexpr int kLastError = static_cast<int>(AssemblerEvent::kStartMarkerInside);
// A tick difference is an unsigned 32-bit count: at most ten digits.
constexpr size_t kMaxTimeDigits = 10;
constexpr size_t kExcerpt = 60;  // characters of a malformed line quoted back

// The widths of the wall-clock and station columns, so that the timeline's
// columns line up whether a line names them or (a log of an earlier
// version) does not.
constexpr size_t kWallClockWidth = 23;                  // "2026-12-07 22:54:33.123"
constexpr size_t kStationWidth = 3 + 1 + kPortNameMax;  // "255:COM123"

struct Entry {
    std::string_view time;
    int tag = kReceived;
    std::array<uint8_t, kMaxFrame> bytes{};
    size_t length = 0;

    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
};

std::string Format(const char* format, unsigned a, unsigned b = 0) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, a, b);
    return n > 0 ? std::string(text, std::min(static_cast<size_t>(n), sizeof text - 1))
                 : std::string();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsGbkTrail(uint8_t b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Appends the GBK character lead, trail in UTF-8; false when GBK has no
// such character. One converter per thread: a converter keeps state.
bool AppendGbkCharacter(uint8_t lead, uint8_t trail, std::string& out) {
    thread_local TextConverter converter("UTF-8", "GBK");
    if (!converter.Valid())
        return false;
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    const char* from = in;
    size_t fromLeft = sizeof in;
    char utf8[8];
    char* to = utf8;
    size_t toLeft = sizeof utf8;
    if (!converter.Convert(&from, &fromLeft, &to, &toLeft)) {
        converter.Reset();
        return false;
    }
    out.append(utf8, sizeof utf8 - toLeft);
    return true;
}

// Text as it would show on a terminal, in UTF-8: printable ASCII as it is, a
// GBK character converted whole (its trail byte may be 0x5C, which must not
// be taken for a backslash), quotes and backslashes escaped. Control
// characters and every byte above 0x7F that is no GBK character are shown
// in hex, "\\xC4", so that no byte of the frame is lost or hidden.
std::string Quoted(std::span<const uint8_t> text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t b = text[i];
        if (b >= 0x81 && b <= 0xFE && i + 1 < text.size() && IsGbkTrail(text[i + 1]) &&
            AppendGbkCharacter(b, text[i + 1], out)) {
            ++i;
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20 || b >= 0x7F) {
            out += Format("\\x%02X", b);
        } else {
            out += static_cast<char>(b);
        }
    }
    return out + "\"";
}

std::string Hex(std::span<const uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

std::string Malformed(size_t lineNumber, const std::string& why, std::string_view line) {
    const std::string_view shown = line.substr(0, kExcerpt);
    std::string out = "line " + std::to_string(lineNumber) + ": malformed, " + why;
    if (line.empty())
        return out;
    out += ": ";
    out += Quoted({reinterpret_cast<const uint8_t*>(shown.data()), shown.size()});
    if (line.size() > shown.size())
        out += "...";
    return out;
}

// Reads "<digits> <tag> XX XX ..." into `entry`; the
// reason on failure.
std::optional<std::string> Parse(std::string_view line, Entry& entry) {
    const size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string_view::npos || digits > kMaxTimeDigits ||
        line[digits] != ' ')
        return "no time in milliseconds";
    entry.time = line.substr(0, digits);
    line.remove_prefix(digits + 1);

    if (line.starts_with("[S] ")) {
        entry.tag = kSent;
    } else if (line.starts_with("[R] ")) {
        entry.tag = kReceived;
    } else if (line.size() >= 5 && line.starts_with("[E") && line.substr(3, 2) == "] " &&
               line[2] - '0' >= kFirstError && line[2] - '0' <= kLastError) {
        entry.tag = line[2] - '0';
        line.remove_prefix(1);
    } else {
        return "unknown tag";
    }
    line.remove_prefix(4);

    // Bytes as the link writes them, "XX " each; a missing last blank (a
    // line trimmed by an editor) is forgiven.
    while (!line.empty()) {
        if (line.size() < 2 || HexDigit(line[0]) < 0 || HexDigit(line[1]) < 0 ||
            (line.size() > 2 && line[2] != ' '))
            return "byte " + std::to_string(entry.length + 1) + " is not two hex digits";
        if (entry.length == kMaxFrame)
            return "more than " + std::to_string(kMaxFrame) + " bytes";
        entry.bytes[entry.length++] =
            static_cast<uint8_t>(HexDigit(line[0]) * 16 + HexDigit(line[1]));
        line.remove_prefix(std::min<size_t>(3, line.size()));
    }
    if (entry.length == 0)
        return "no bytes";
    return std::nullopt;
}

bool AddressSound(std::span<const uint8_t> f) {
    return f.size() >= 3 && f[1] + f[2] == 0xFF;
}

std::string ControlMeaning(bool sent, uint8_t command) {
    switch (command) {
        case kCmdAck:
            return "ack";
        case kCmdDownloadSearch:
            return sent ? "download search" : "download search answer";
        default:
            break;
    }
    if (sent) {
        switch (command) {
            case kCmdChecksumError:
                return "checksum error, send again";
            case kCmdShortMessageBeacon:
                return "beacon, short message waiting";
            case kCmdDownloadDone:
                return "download done";
            default:
                return "reply";  // an empty reply travels as a control frame
        }
    }
    switch (command) {
        case kCmdPageBack:
            return "page back";
        case kCmdPageForward:
            return "page forward";
        case kCmdClock:
            return "clock request";
        default:
            return "request";
    }
}

std::string DataMeaning(bool sent, uint8_t command) {
    if (command == kCmdShortMessage)
        return "short message";
    if (sent && command == kCmdClock)
        return "clock and title";
    return sent ? "reply" : "request";
}

// The length byte and the checksum of a data, test or download frame: the
// same layout from offset 5 on.
void AddChecks(std::span<const uint8_t> f, std::vector<std::string>& parts) {
    const size_t n = f.size();
    if (f[5] != n - 8)
        parts.push_back(Format("length byte %u, should be %u", f[5], static_cast<unsigned>(n - 8)));
    if (DataChecksumOk(f))
        parts.push_back("checksum ok");
    else if (n < kDataOverhead)
        parts.push_back("checksum bad (no room for one)");
    else
        parts.push_back(Format("checksum bad (%02X, should be %02X)", f[n - 2],
                               FrameChecksum(f.data() + 6, n - 8)));
}

// The kind column and the details of a frame sent or received.
std::string DescribeFrame(bool sent, std::span<const uint8_t> f) {
    const size_t n = f.size();
    std::vector<std::string> parts;
    std::string kind;
    const uint8_t command = n > 4 ? f[3] : 0;
    if (n < kBeaconLength) {
        kind = "invalid";
        parts.push_back(Format("%u bytes, too short for a frame", static_cast<unsigned>(n)));
    } else if (n == kBeaconLength) {
        kind = "beacon";
        parts.push_back(sent ? "poll" : "answer");
    } else if (ClassifyLength(n) == FrameKind::kControl) {
        kind = "control";
        parts.push_back(Format("0x%02X ", command) + ControlMeaning(sent, command));
        if (command + f[4] != 0xFF)
            parts.push_back("command complement wrong");
        if (n != kControlLength)
            parts.push_back(Format("%u bytes", static_cast<unsigned>(n)));
    } else if (command == kCmdTest) {
        kind = "test";
        parts.push_back(Format("0x%02X ", command) + (sent ? "test" : "test echo"));
        if (n == kTestFrameLength)
            parts.push_back(Format("sequence %u, pattern ", f[6]) +
                            (TestEchoMatches(f, f[6]) ? "ok" : "wrong"));
        else
            parts.push_back(Format("%u bytes, should be %u", static_cast<unsigned>(n),
                                   static_cast<unsigned>(kTestFrameLength)));
        AddChecks(f, parts);
    } else if (sent && f[1] == kBroadcastId && command >= 3 && command < 3 + kDownloadFileCount) {
        kind = "download";
        parts.push_back(Format("0x%02X file %u", command, command - 3u));
        const auto total = n >= kDownloadOverhead ? DecodeRecordCounter(f[6], f[7]) : std::nullopt;
        const auto number = n >= kDownloadOverhead ? DecodeRecordCounter(f[8], f[9]) : std::nullopt;
        if (total && number)
            parts.push_back(Format("record %u of %u", *number, *total));
        else
            parts.push_back("record counters unreadable");
        if (n >= kDownloadOverhead)
            parts.push_back(Quoted(DataPayload(f).subspan(2)));
        AddChecks(f, parts);
    } else {
        kind = "data";
        parts.push_back(Format("0x%02X ", command) + DataMeaning(sent, command));
        parts.push_back(Format("fragment %u/%u", DataFragmentNumber(f), DataFragmentTotal(f)));
        parts.push_back(Quoted(DataPayload(f)));
        AddChecks(f, parts);
    }
    if (n >= 2 && !AddressSound(f))
        parts.push_back("address complement wrong");
    if (f[0] != kFrameStart)
        parts.push_back("no start marker");
    if (f[n - 1] != kFrameEnd)
        parts.push_back("no end marker");

    kind.resize(std::max<size_t>(kind.size(), 10), ' ');
    std::string out = kind;
    for (size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : ", ") + parts[i];
    return out;
}

const char* ErrorMeaning(int tag) {
    switch (static_cast<AssemblerEvent>(tag)) {
        case AssemblerEvent::kNoEndMarker:
            return "no end marker within 255 bytes";
        case AssemblerEvent::kTooShort:
            return "end marker after fewer than 4 bytes";
        case AssemblerEvent::kBadAddressComplement:
            return "address complement wrong";
        case AssemblerEvent::kBadCommandComplement:
            return "command complement wrong";
        case AssemblerEvent::kStartMarkerInside:
            return "start marker inside a frame, bytes before it";
        case AssemblerEvent::kFrame:
            break;
    }
    return "";
}

// The wall-clock and station columns, each "-" when it is not known. An
// unknown time is a "-" for the date and one for the time, so that the
// columns split at blanks the same way on every line.
std::string WallClockAndStation(std::optional<int64_t> wallMs, const std::string& station) {
    std::string out = wallMs ? LocalTimeText(*wallMs) : "-          -";
    out.resize(std::max(out.size(), kWallClockWidth), ' ');
    out += ' ';
    out += station;
    out.resize(std::max(out.size(), kWallClockWidth + 1 + kStationWidth), ' ');
    return out;
}

}  // namespace

std::string DecodeLine(std::string_view line, size_t lineNumber, bool* malformed,
                       const StationMap* stations, std::optional<int64_t> wallMs) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    Entry entry;
    const auto why = Parse(line, entry);
    if (malformed)
        *malformed = why.has_value();
    if (why)
        return Malformed(lineNumber, *why, line);

    const auto f = entry.view();
    const bool error = entry.tag >= kFirstError;
    // A rejected frame names its terminal only when its address holds.
    const bool showId = error ? AddressSound(f) : f.size() >= 2;
    // A broadcast names no one terminal, and so no station.
    static const std::string kUnknown = "-";
    const bool named = showId && f[1] != kBroadcastId && stations != nullptr;
    std::string out(entry.time);
    out += ' ';
    out += WallClockAndStation(wallMs, named ? stations->Of(f[1]) : kUnknown);
    out += entry.tag == kSent ? " sent     " : " received ";
    out += showId ? Format("DCB %03u  ", f[1]) : std::string("DCB ---  ");
    if (!error)
        return out + DescribeFrame(entry.tag == kSent, f);
    return out + Format("error %u   ", static_cast<unsigned>(entry.tag)) + ErrorMeaning(entry.tag) +
           Format(", %u bytes: ", static_cast<unsigned>(f.size())) + Hex(f);
}

LogDecoder::LogDecoder(const Columns& columns) : columns_(columns) {}

void LogDecoder::Feed(std::string_view chunk, std::string& out, std::string* malformed) {
    cutter_.Feed(chunk, [&](std::string_view line, size_t length) {
        EndLine(line, length, out, malformed);
    });
}

void LogDecoder::Finish(std::string& out, std::string* malformed) {
    cutter_.Finish(
        [&](std::string_view line, size_t length) { EndLine(line, length, out, malformed); });
}

void LogDecoder::EndLine(std::string_view line, size_t length, std::string& out,
                         std::string* malformed) {
    ++lineNumber_;
    elapsedMs_ += LineInterval(line);
    std::optional<int64_t> wallMs;
    if (columns_.lastLineMs) {
        // The intervals of the lines after this one; a log that grew between
        // the passes has none left.
        const uint64_t after =
            columns_.totalIntervalMs > elapsedMs_ ? columns_.totalIntervalMs - elapsedMs_ : 0;
        wallMs = *columns_.lastLineMs - static_cast<int64_t>(after);
    }
    bool bad = true;
    const std::string decoded =
        length > kMaxLogLine
            ? Malformed(lineNumber_, std::to_string(length) + " characters, too long", line)
            : DecodeLine(line, lineNumber_, &bad, columns_.stations, wallMs);
    out += decoded;
    out += '\n';
    if (bad) {
        ++malformedLines_;
        if (malformed)
            *malformed += decoded + '\n';
    }
}

void IntervalSum::Feed(std::string_view chunk) {
    cutter_.Feed(chunk, [&](std::string_view line, size_t) { total_ += LineInterval(line); });
}

void IntervalSum::Finish() {
    cutter_.Finish([&](std::string_view line, size_t) { total_ += LineInterval(line); });
}

}  // namespace qm::pktlog
