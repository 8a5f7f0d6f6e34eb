// The bytes on a base station's serial line, as a terminal sees them.
//
// Every frame starts with 0x00 and ends with 0xFF and has no escaping, which
// is why every other byte of a frame stays clear of both values: ids and
// commands travel with their one's complement, counters are small, payloads
// are text. The kind of a frame follows from its length: 4 bytes a beacon,
// 6 bytes a control frame, 9 bytes or more a data frame (the 61-byte link
// test frame and the broadcast download line are data-sized frames told apart
// by command and address).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::devsim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kFrameStart = 0x00;
inline constexpr uint8_t kFrameEnd = 0xFF;
inline constexpr uint8_t kBroadcastId = 0xFE;
// Receive buffers on both ends hold 255 bytes; a longer run is no frame.
inline constexpr size_t kMaxFrameLength = 255;
// A message is cut into fragments of 50 bytes; four make a 200-byte page.
inline constexpr size_t kFragmentSize = 50;
inline constexpr size_t kFragmentsPerPage = 4;
// The fragment count travels in one byte that must not be the end marker.
inline constexpr size_t kMaxFragments = 254;
inline constexpr size_t kTestFrameLength = 61;

// Command bytes. Several values mean different things by direction.
inline constexpr uint8_t kCmdAck = 0x01;
inline constexpr uint8_t kCmdChecksumError = 0x02;      // manager -> terminal
inline constexpr uint8_t kCmdMessageBeacon = 0x03;      // manager -> terminal
inline constexpr uint8_t kCmdPageBack = 0x03;           // terminal -> manager
inline constexpr uint8_t kCmdPageForward = 0x04;        // terminal -> manager
inline constexpr uint8_t kCmdDownloadDone = 0x04;       // manager -> terminal
inline constexpr uint8_t kCmdClock = 0x05;              // both (control ask, data answer)
inline constexpr uint8_t kCmdShortMessage = 0x1C;       // data, both
inline constexpr uint8_t kCmdSearch = 0x23;             // control, both
inline constexpr uint8_t kCmdTest = 0x55;               // link test frame and its echo
inline constexpr uint8_t kFirstDownloadCommand = 0x03;  // file 0
inline constexpr uint8_t kLastDownloadCommand = 0x0D;   // file 10

// Start at 1; after adding each byte (mod 256) fold anything above 128 back
// by 128. The fold is applied per byte, so the result is always 0..128. It
// can come out as 0x00 (only after a byte of 0x80 or more, i.e. GBK text);
// such a frame breaks on the line, for the devices as for the manager.
uint8_t Checksum(std::span<const uint8_t> bytes);

Bytes BeaconFrame(uint8_t dcbId);
Bytes ControlFrame(uint8_t dcbId, uint8_t command);
// Fragment `number` of `total` carrying `payload` (at most 245 bytes so that
// the frame stays within 255).
Bytes DataFrame(uint8_t dcbId, uint8_t command, uint8_t total, uint8_t number,
                std::span<const uint8_t> payload);
// The link test frame with its fixed pattern 0x01..0x34.
Bytes TestFrame(uint8_t dcbId, uint8_t sequence);
// A broadcast download line: record `record` of `total` of file command
// `command`. The counters travel as base-200 digits plus one.
Bytes BroadcastLineFrame(uint8_t command, uint32_t total, uint32_t record,
                         std::span<const uint8_t> text);

// Recomputes the checksum of a data-sized frame in place (after a deliberate
// change to its content).
void RestampChecksum(Bytes& frame);

enum class FrameKind { kBeacon, kControl, kData, kTest, kBroadcast, kMalformed };

struct Frame {
    FrameKind kind = FrameKind::kMalformed;
    uint8_t address = 0;        // DCB id (0xFE for a broadcast)
    uint8_t command = 0;        // control, data, test and broadcast frames
    uint8_t total = 0;          // data: N, the number of fragments
    uint8_t number = 0;         // data: k, this fragment
    uint8_t sequence = 0;       // test frames
    uint32_t recordTotal = 0;   // broadcast: T
    uint32_t recordNumber = 0;  // broadcast: R, 1-based
    Bytes payload;              // data payload, broadcast text, test pattern
    bool checksumOk = false;
    std::string problem;  // why a frame is malformed
};

// Judges one complete frame (0x00 ... 0xFF) by the line rules. Never reads
// beyond the span; anything that does not fit a kind comes back kMalformed
// with a reason.
Frame ParseFrame(std::span<const uint8_t> frame);

// Cuts a byte stream into frames the way a device's receiver does: 0x00
// starts a frame (also inside one, dropping what came before), 0xFF ends it,
// bytes outside a frame are ignored, and a frame that runs past 255 bytes is
// discarded whole.
class FrameAssembler {
  public:
    void Feed(std::span<const uint8_t> bytes, std::vector<Bytes>& frames);

    uint64_t StrayBytes() const { return strayBytes_; }
    uint64_t OverlongFrames() const { return overlongFrames_; }
    uint64_t InterruptedFrames() const { return interruptedFrames_; }

  private:
    Bytes buffer_;
    bool inFrame_ = false;
    uint64_t strayBytes_ = 0;
    uint64_t overlongFrames_ = 0;
    uint64_t interruptedFrames_ = 0;
};

}  // namespace qm::devsim
