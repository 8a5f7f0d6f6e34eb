#include "link/frame_codec.h"

#include <algorithm>

namespace qm {
namespace {

constexpr size_t kMinDataFrame = kDataOverhead;  // a data frame with an empty payload
constexpr uint8_t kTestLengthByte = 0x35;        // sequence byte + 52 pattern bytes

bool Addressable(uint8_t value) {
    return value != kFrameStart && value != kFrameEnd;
}

bool FreeOfMarkers(std::span<const uint8_t> bytes) {
    return std::none_of(bytes.begin(), bytes.end(), [](uint8_t b) { return !Addressable(b); });
}

// 00 id ~id cmd ~cmd: the head shared by control, data, test and download
// frames.
void PutHead(Frame& f, uint8_t id, uint8_t command) {
    f.bytes[0] = kFrameStart;
    f.bytes[1] = id;
    f.bytes[2] = static_cast<uint8_t>(0xFF - id);
    f.bytes[3] = command;
    f.bytes[4] = static_cast<uint8_t>(0xFF - command);
}

// Checksum over offsets 6 .. length-1, then the checksum and the end marker.
void PutTail(Frame& f, size_t bodyEnd) {
    f.bytes[bodyEnd] = FrameChecksum(f.bytes.data() + 6, bodyEnd - 6);
    f.bytes[bodyEnd + 1] = kFrameEnd;
    f.length = static_cast<uint32_t>(bodyEnd + 2);
}

bool IsMalformedData(std::span<const uint8_t> frame) {
    return frame.size() < kMinDataFrame || frame.size() > kMaxFrame;
}

// The last one or two decimal digits of a value, negative ones counted
// from below like the calendar does (-1 gives 99).
char Digit(int value) {
    return static_cast<char>('0' + (value % 10 + 10) % 10);
}

void PutTwoDigits(char* out, int value) {
    int v = (value % 100 + 100) % 100;
    out[0] = static_cast<char>('0' + v / 10);
    out[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

uint8_t FrameChecksum(const uint8_t* p, size_t n) {
    unsigned s = 1;
    for (size_t i = 0; i < n; ++i) {
        s = (s + p[i]) & 0xFFu;
        if (s > 128)
            s -= 128;
    }
    return static_cast<uint8_t>(s);
}

std::optional<Frame> BuildBeaconFrame(uint8_t id) {
    if (!Addressable(id))
        return std::nullopt;
    Frame f;
    f.bytes[0] = kFrameStart;
    f.bytes[1] = id;
    f.bytes[2] = static_cast<uint8_t>(0xFF - id);
    f.bytes[3] = kFrameEnd;
    f.length = kBeaconLength;
    return f;
}

std::optional<Frame> BuildControlFrame(uint8_t id, uint8_t command) {
    if (!Addressable(id) || !Addressable(command))
        return std::nullopt;
    Frame f;
    PutHead(f, id, command);
    f.bytes[5] = kFrameEnd;
    f.length = kControlLength;
    return f;
}

std::optional<Frame> BuildDataFrame(uint8_t id, uint8_t command, uint32_t fragmentTotal,
                                    uint32_t fragmentNumber, std::span<const uint8_t> payload) {
    if (payload.empty())
        return BuildControlFrame(id, command);
    if (!Addressable(id) || !Addressable(command))
        return std::nullopt;
    if (payload.size() > kMaxPayload || !FreeOfMarkers(payload))
        return std::nullopt;
    if (fragmentTotal < 1 || fragmentTotal > kMaxDataFragments)
        return std::nullopt;
    if (fragmentNumber < 1 || fragmentNumber > fragmentTotal)
        return std::nullopt;

    Frame f;
    PutHead(f, id, command);
    f.bytes[5] = static_cast<uint8_t>(payload.size() + 2);  // N, k and the payload
    f.bytes[6] = static_cast<uint8_t>(fragmentTotal);
    f.bytes[7] = static_cast<uint8_t>(fragmentNumber);
    std::copy(payload.begin(), payload.end(), f.bytes.begin() + 8);
    PutTail(f, 8 + payload.size());
    return f;
}

std::optional<Frame> BuildTestFrame(uint8_t id, uint8_t sequence) {
    if (!Addressable(id) || !Addressable(sequence))
        return std::nullopt;
    Frame f;
    PutHead(f, id, kCmdTest);
    f.bytes[5] = kTestLengthByte;
    f.bytes[6] = sequence;
    for (size_t i = 0; i < kTestPatternLength; ++i) f.bytes[7 + i] = static_cast<uint8_t>(i + 1);
    PutTail(f, 7 + kTestPatternLength);
    return f;
}

uint8_t TestFrameChecksum(uint8_t sequence) {
    // The fold only ever takes away 128, so the sum is 1 + sequence + 1378
    // (the pattern 1..52) modulo 128, which is sequence - 29. It never ends
    // on 0: the last byte, 0x34, is added to at most 128 and cannot wrap, so
    // a residue of 0 shows as 128.
    int c = (static_cast<int>(sequence) - 29) % 128;
    if (c < 0)
        c += 128;
    return static_cast<uint8_t>(c == 0 ? 0x80 : c);
}

bool TestEchoMatches(std::span<const uint8_t> frame, uint8_t sequence) {
    if (frame.size() != kTestFrameLength)
        return false;
    if (frame[6] != sequence)
        return false;
    for (size_t i = 0; i < kTestPatternLength; ++i) {
        if (frame[7 + i] != i + 1)
            return false;
    }
    return true;
}

std::optional<std::array<uint8_t, 2>> EncodeRecordCounter(uint32_t value) {
    if (value > kMaxRecordCounter)
        return std::nullopt;
    return std::array<uint8_t, 2>{static_cast<uint8_t>(value % 200 + 1),
                                  static_cast<uint8_t>(value / 200 + 1)};
}

std::optional<uint32_t> DecodeRecordCounter(uint8_t low, uint8_t high) {
    if (low < 1 || low > 200 || high < 1 || high > 254)
        return std::nullopt;
    return static_cast<uint32_t>(high - 1) * 200 + (low - 1);
}

std::optional<Frame> BuildDownloadFrame(uint8_t fileIndex, uint32_t recordCount,
                                        uint32_t recordNumber, std::span<const uint8_t> text) {
    if (fileIndex >= kDownloadFileCount)
        return std::nullopt;
    if (text.size() > kMaxDownloadText || !FreeOfMarkers(text))
        return std::nullopt;
    auto total = EncodeRecordCounter(recordCount);
    auto number = EncodeRecordCounter(recordNumber);
    if (!total || !number)
        return std::nullopt;

    Frame f;
    PutHead(f, kBroadcastId, static_cast<uint8_t>(3 + fileIndex));
    f.bytes[5] = static_cast<uint8_t>(text.size() + 4);  // the four counter bytes and the text
    f.bytes[6] = (*total)[0];
    f.bytes[7] = (*total)[1];
    f.bytes[8] = (*number)[0];
    f.bytes[9] = (*number)[1];
    std::copy(text.begin(), text.end(), f.bytes.begin() + 10);
    PutTail(f, 10 + text.size());
    return f;
}

bool FrameInteriorClean(std::span<const uint8_t> frame) {
    if (frame.size() < 2)
        return true;
    return FreeOfMarkers(frame.subspan(1, frame.size() - 2));
}

FrameKind ClassifyLength(size_t n) {
    if (n < kBeaconLength || n > kMaxFrame)
        return FrameKind::kInvalid;
    if (n == kBeaconLength)
        return FrameKind::kBeacon;
    if (n <= 8)
        return FrameKind::kControl;
    return FrameKind::kData;
}

bool DataChecksumOk(std::span<const uint8_t> frame) {
    if (IsMalformedData(frame))
        return false;
    const size_t n = frame.size();
    return FrameChecksum(frame.data() + 6, n - 8) == frame[n - 2];
}

uint8_t DataFragmentTotal(std::span<const uint8_t> frame) {
    return IsMalformedData(frame) ? 0 : frame[6];
}

uint8_t DataFragmentNumber(std::span<const uint8_t> frame) {
    return IsMalformedData(frame) ? 0 : frame[7];
}

std::span<const uint8_t> DataPayload(std::span<const uint8_t> frame) {
    if (IsMalformedData(frame))
        return {};
    return frame.subspan(8, frame.size() - kDataOverhead);
}

std::array<char, kClockStampLength> BuildClockStamp(const std::tm& local) {
    std::array<char, kClockStampLength> out{};
    // tm_year counts from 1900, a multiple of 100, so its last two digits
    // are those of the year.
    PutTwoDigits(&out[0], local.tm_year);
    out[2] = Digit(local.tm_wday);
    PutTwoDigits(&out[3], local.tm_mon % 100 + 1);
    PutTwoDigits(&out[5], local.tm_mday);
    PutTwoDigits(&out[7], local.tm_hour);
    PutTwoDigits(&out[9], local.tm_min);
    PutTwoDigits(&out[11], local.tm_sec);
    return out;
}

}  // namespace qm
