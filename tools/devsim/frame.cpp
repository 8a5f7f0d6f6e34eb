#include "tools/devsim/frame.h"

#include <algorithm>

namespace qm::devsim {

namespace {

// Offsets shared by data, test and broadcast frames.
constexpr size_t kLengthOffset = 5;
constexpr size_t kCoveredStart = 6;
// Start, address pair, command pair, length byte, checksum, end.
constexpr size_t kDataOverhead = 8;
// A data frame needs at least N and k after the length byte.
constexpr size_t kMinDataLength = 10;
// A broadcast line has four counter bytes after the length byte.
constexpr size_t kMinBroadcastLength = 12;
constexpr size_t kMaxDataPayload = kMaxFrameLength - kMinDataLength;
constexpr size_t kMaxLineText = kMaxFrameLength - kMinBroadcastLength;
constexpr uint8_t kTestLengthByte = 0x35;  // the sequence byte and 52 pattern bytes
constexpr uint8_t kTestPatternLength = 0x34;
constexpr uint32_t kCounterBase = 200;

Bytes Header(uint8_t address, uint8_t command) {
    return Bytes{kFrameStart, address, static_cast<uint8_t>(0xFF - address), command,
                 static_cast<uint8_t>(0xFF - command)};
}

Frame Malformed(Frame f, const char* why) {
    f.kind = FrameKind::kMalformed;
    f.problem = why;
    return f;
}

}  // namespace

uint8_t Checksum(std::span<const uint8_t> bytes) {
    unsigned s = 1;
    for (uint8_t b : bytes) {
        s = (s + b) % 256;
        if (s > 128) {
            s -= 128;
        }
    }
    return static_cast<uint8_t>(s);
}

Bytes BeaconFrame(uint8_t dcbId) {
    return Bytes{kFrameStart, dcbId, static_cast<uint8_t>(0xFF - dcbId), kFrameEnd};
}

Bytes ControlFrame(uint8_t dcbId, uint8_t command) {
    Bytes frame = Header(dcbId, command);
    frame.push_back(kFrameEnd);
    return frame;
}

Bytes DataFrame(uint8_t dcbId, uint8_t command, uint8_t total, uint8_t number,
                std::span<const uint8_t> payload) {
    payload = payload.first(std::min(payload.size(), kMaxDataPayload));
    Bytes frame = Header(dcbId, command);
    frame.push_back(static_cast<uint8_t>(payload.size() + 2));
    frame.push_back(total);
    frame.push_back(number);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(Checksum(std::span(frame).subspan(kCoveredStart)));
    frame.push_back(kFrameEnd);
    return frame;
}

Bytes TestFrame(uint8_t dcbId, uint8_t sequence) {
    Bytes frame = Header(dcbId, kCmdTest);
    frame.push_back(kTestLengthByte);
    frame.push_back(sequence);
    for (uint8_t b = 1; b <= kTestPatternLength; ++b) {
        frame.push_back(b);
    }
    frame.push_back(Checksum(std::span(frame).subspan(kCoveredStart)));
    frame.push_back(kFrameEnd);
    return frame;
}

Bytes BroadcastLineFrame(uint8_t command, uint32_t total, uint32_t record,
                         std::span<const uint8_t> text) {
    text = text.first(std::min(text.size(), kMaxLineText));
    Bytes frame = Header(kBroadcastId, command);
    frame.push_back(static_cast<uint8_t>(text.size() + 4));
    frame.push_back(static_cast<uint8_t>(total % kCounterBase + 1));
    frame.push_back(static_cast<uint8_t>(total / kCounterBase + 1));
    frame.push_back(static_cast<uint8_t>(record % kCounterBase + 1));
    frame.push_back(static_cast<uint8_t>(record / kCounterBase + 1));
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(Checksum(std::span(frame).subspan(kCoveredStart)));
    frame.push_back(kFrameEnd);
    return frame;
}

void RestampChecksum(Bytes& frame) {
    if (frame.size() < kMinDataLength) {
        return;
    }
    const size_t checksumAt = frame.size() - 2;
    frame[checksumAt] =
        Checksum(std::span(frame).subspan(kCoveredStart, checksumAt - kCoveredStart));
}

Frame ParseFrame(std::span<const uint8_t> bytes) {
    Frame f;
    const size_t n = bytes.size();
    if (n < 4) {
        return Malformed(std::move(f), "shorter than 4 bytes");
    }
    if (bytes[0] != kFrameStart || bytes[n - 1] != kFrameEnd) {
        return Malformed(std::move(f), "missing start or end marker");
    }
    f.address = bytes[1];
    if (bytes[1] + bytes[2] != 0xFF) {
        return Malformed(std::move(f), "address complement wrong");
    }
    if (n == 4) {
        f.kind = FrameKind::kBeacon;
        return f;
    }
    if (bytes[3] + bytes[4] != 0xFF) {
        return Malformed(std::move(f), "command complement wrong");
    }
    f.command = bytes[3];
    if (n < 9) {
        if (n != 6) {
            return Malformed(std::move(f), "no frame has this length");
        }
        f.kind = FrameKind::kControl;
        return f;
    }
    if (n < kMinDataLength) {
        return Malformed(std::move(f), "too short for a data frame");
    }
    if (static_cast<size_t>(bytes[kLengthOffset]) != n - kDataOverhead) {
        return Malformed(std::move(f), "length byte does not match the frame");
    }
    const size_t checksumAt = n - 2;
    f.checksumOk =
        Checksum(bytes.subspan(kCoveredStart, checksumAt - kCoveredStart)) == bytes[checksumAt];

    if (f.address == kBroadcastId) {
        if (n < kMinBroadcastLength) {
            return Malformed(std::move(f), "too short for a broadcast line");
        }
        // The counter digits are never 0x00 (that would have started a new
        // frame), so subtracting one cannot wrap.
        f.recordTotal = (bytes[6] - 1u) + (bytes[7] - 1u) * kCounterBase;
        f.recordNumber = (bytes[8] - 1u) + (bytes[9] - 1u) * kCounterBase;
        f.payload.assign(bytes.begin() + 10, bytes.begin() + checksumAt);
        f.kind = FrameKind::kBroadcast;
        return f;
    }
    if (f.command == kCmdTest && n == kTestFrameLength) {
        f.sequence = bytes[6];
        f.payload.assign(bytes.begin() + 7, bytes.begin() + checksumAt);
        f.kind = FrameKind::kTest;
        return f;
    }
    f.total = bytes[6];
    f.number = bytes[7];
    if (f.total == 0 || f.number == 0 || f.number > f.total) {
        return Malformed(std::move(f), "fragment numbers out of range");
    }
    f.payload.assign(bytes.begin() + 8, bytes.begin() + checksumAt);
    f.kind = FrameKind::kData;
    return f;
}

void FrameAssembler::Feed(std::span<const uint8_t> bytes, std::vector<Bytes>& frames) {
    for (uint8_t b : bytes) {
        if (b == kFrameStart) {
            if (inFrame_) {
                ++interruptedFrames_;
            }
            buffer_.assign(1, b);
            inFrame_ = true;
            continue;
        }
        if (!inFrame_) {
            ++strayBytes_;
            continue;
        }
        if (buffer_.size() >= kMaxFrameLength) {
            // Past the receive buffer: the whole frame is lost, the end
            // marker too if this is it.
            ++overlongFrames_;
            buffer_.clear();
            inFrame_ = false;
            continue;
        }
        buffer_.push_back(b);
        if (b == kFrameEnd) {
            frames.push_back(std::move(buffer_));
            buffer_.clear();
            inFrame_ = false;
        }
    }
}

}  // namespace qm::devsim
