// The bytes of the serial link to the base stations: frame builders, the
// frame checksum, and the receive side's frame assembler and data-frame
// readers.
//
// Nothing here does I/O or keeps process state, so every function can be fed
// arbitrary bytes in a test.
//
// A frame starts with 0x00 and ends with 0xFF, and there is no escaping: a
// receiver takes any 0x00 as a new start and any 0xFF as the end. Ids and
// commands therefore travel beside their one's complement (so they must lie
// in 0x01..0xFE), counters are kept small or sent as base-200 digits plus one,
// and payloads are text. The builders refuse any input that would put a
// marker byte inside a frame, because such a frame would be cut apart on the
// line. The one exception they cannot avoid is the checksum byte itself,
// which is 0x00 for some payloads (see FrameInteriorClean).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>

namespace qm {

inline constexpr size_t kMaxFrame = 255;   // every buffer of the link holds one frame
inline constexpr size_t kMaxPayload = 50;  // payload bytes of one data frame
inline constexpr uint8_t kFrameStart = 0x00;
inline constexpr uint8_t kFrameEnd = 0xFF;
inline constexpr uint8_t kBroadcastId = 0xFE;  // all terminals of a station (downloads)

// Command bytes. Several codes mean different things by direction and frame
// kind; the receiver decides by kind first, command second.
inline constexpr uint8_t kCmdAck = 0x01;
inline constexpr uint8_t kCmdChecksumError = 0x02;
inline constexpr uint8_t kCmdShortMessageBeacon = 0x03;  // manager -> terminal, control
inline constexpr uint8_t kCmdPageBack = 0x03;            // terminal -> manager, control
inline constexpr uint8_t kCmdPageForward = 0x04;         // terminal -> manager, control
inline constexpr uint8_t kCmdDownloadDone = 0x04;        // manager -> terminal, control
inline constexpr uint8_t kCmdClock = 0x05;               // request (control) and reply (data)
inline constexpr uint8_t kCmdShortMessage = 0x1C;
inline constexpr uint8_t kCmdDownloadSearch = 0x23;
inline constexpr uint8_t kCmdTest = 0x55;

// Frame sizes.
inline constexpr size_t kBeaconLength = 4;
inline constexpr size_t kControlLength = 6;
inline constexpr size_t kDataOverhead =
    10;  // start, address x2, command x2, L, N, k, checksum, end
inline constexpr size_t kMaxDataFragments = 254;  // N and k are single bytes and never 0xFF
inline constexpr size_t kTestFrameLength = 61;
inline constexpr size_t kTestPatternLength = 52;  // 0x01 .. 0x34
inline constexpr size_t kDownloadOverhead = 12;
inline constexpr size_t kMaxDownloadText = kMaxFrame - kDownloadOverhead;  // 243
inline constexpr uint8_t kDownloadFileCount = 11;
// Base-200 digits plus one in a byte that must stay below 0xFF: the high digit
// reaches 253 at most, so 253 * 200 + 199.
inline constexpr uint32_t kMaxRecordCounter = 50799;
inline constexpr size_t kClockStampLength = 13;

// One frame as it goes into the transmit queue.
struct Frame {
    std::array<uint8_t, kMaxFrame> bytes{};
    uint32_t length = 0;

    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
};

// Start s = 1; for each byte s = (s + b) mod 256, then s -= 128 if s > 128.
// The fold after every byte keeps the result in 0..128, so it never equals
// the end marker; it can equal the start marker 0x00.
uint8_t FrameChecksum(const uint8_t* p, size_t n);

// 00 id ~id FF: the poll of a terminal, and its answer when it has nothing
// to say. Refused for ids 0x00 and 0xFF, which cannot be addressed.
std::optional<Frame> BuildBeaconFrame(uint8_t id);

// 00 id ~id cmd ~cmd FF: a command without data.
std::optional<Frame> BuildControlFrame(uint8_t id, uint8_t command);

// One fragment k of N of a message, payload of 0..50 bytes; 10 + n bytes.
// An empty payload gives the 6-byte control frame carrying the command (the
// fragment numbers are then not sent and not checked). Refused when the
// payload is longer than 50 bytes or holds 0x00 or 0xFF, or when N or k lies
// outside 1..254 or k > N: a fragment count that does not fit one byte
// would be sent truncated and mislead the terminal.
std::optional<Frame> BuildDataFrame(uint8_t id, uint8_t command, uint32_t fragmentTotal,
                                    uint32_t fragmentNumber, std::span<const uint8_t> payload);

// The 61-byte frame of the link test: sequence 1..254, then the fixed
// pattern 0x01..0x34 and its checksum.
std::optional<Frame> BuildTestFrame(uint8_t id, uint8_t sequence);

// Checksum of a test frame with the given sequence byte. For the fixed
// pattern it is (sequence - 29) mod 128, and 0x80 where that is 0, so the test
// sender can patch the sequence and checksum of a frame built once.
uint8_t TestFrameChecksum(uint8_t sequence);

// Whether an echo is the test frame of this sequence returned unchanged in
// its body: exactly 61 bytes, the sequence byte and the pattern. (The
// checksum is the caller's DataChecksumOk.) A shorter frame with the test
// command is a wrong echo, never read past its end.
bool TestEchoMatches(std::span<const uint8_t> frame, uint8_t sequence);

// A counter of records as two bytes: (v mod 200) + 1, (v div 200) + 1.
// Refused above kMaxRecordCounter, where the high byte would reach 0xFF.
std::optional<std::array<uint8_t, 2>> EncodeRecordCounter(uint32_t value);
// The inverse; refused for bytes that no counter produces.
std::optional<uint32_t> DecodeRecordCounter(uint8_t low, uint8_t high);

// One record of download file fileIndex (0..10, command 3 + index) to the
// broadcast address, with the file's record count and this record's 1-based
// number; 12 + text bytes. Refused when the frame would exceed 255 bytes,
// when the text holds 0x00 or 0xFF, or when a counter is too large.
std::optional<Frame> BuildDownloadFrame(uint8_t fileIndex, uint32_t recordCount,
                                        uint32_t recordNumber, std::span<const uint8_t> text);

// True when no byte between the start and the end marker is a marker. A
// built frame fails this only when its checksum came out as 0x00; every
// receiver restarts at that byte, so such a frame cannot be delivered.
bool FrameInteriorClean(std::span<const uint8_t> frame);

// The receiver tells frames apart by length alone.
enum class FrameKind : uint8_t { kInvalid, kBeacon, kControl, kData };

// < 4: invalid; 4: beacon; 5..8: control; 9..255: data. Longer than a
// frame can be: invalid.
FrameKind ClassifyLength(size_t n);

// Data frames as received. A data frame has at least 10 bytes: start,
// address, command, L, N, k, checksum and end, with an empty payload. The
// receiver calls every frame of 9 bytes or more a data frame, but a 9-byte
// one has no room for both k and the checksum (its payload length would be
// -1), so it is treated as malformed: its checksum never matches, which has
// the terminal send it again, and its N, k and payload read as 0, 0 and
// empty. The same holds for anything shorter or longer than a frame.
//
// Checksum over the n - 8 bytes from offset 6, compared with byte n - 2.
bool DataChecksumOk(std::span<const uint8_t> frame);
// N (byte 6) and k (byte 7); 0 for a malformed frame.
uint8_t DataFragmentTotal(std::span<const uint8_t> frame);
uint8_t DataFragmentNumber(std::span<const uint8_t> frame);
// The n - 10 bytes from offset 8; empty for a malformed frame.
std::span<const uint8_t> DataPayload(std::span<const uint8_t> frame);

// "YYWMMDDhhmmss" of the clock reply: year mod 100, weekday (0 = Sunday),
// month 1..12, day, hour, minute, second; no terminator. Fields out of their
// range are reduced to their last digits, so the stamp is always 13 digits.
std::array<char, kClockStampLength> BuildClockStamp(const std::tm& local);

// What the frame assembler reports. The values are the packet log's kinds
// for the same events: 0 "[R]" for a frame, 2..6 for the rejections.
enum class AssemblerEvent : uint8_t {
    kFrame = 0,                 // a complete frame: beacon, control (complements checked) or data
    kNoEndMarker = 2,           // 255 bytes without an end marker
    kTooShort = 3,              // end marker after fewer than 4 bytes
    kBadAddressComplement = 4,  // beacon or control frame whose address complement is wrong
    kBadCommandComplement = 5,  // control frame whose command complement is wrong
    kStartMarkerInside = 6,     // a start marker inside a frame: the bytes before it
};

struct AssemblerOutput {
    AssemblerEvent event;
    FrameKind kind;  // of the bytes, by their length
    // Points into the assembler; valid until its next Feed or Reset.
    std::span<const uint8_t> bytes;
};

// Cuts a byte stream into frames, one byte at a time, as a base station's
// reader receives it. Outside a frame every byte but 0x00 is dropped. It
// never holds more than 255 bytes. Data frames are passed on without looking
// at their complements: their checksum is what tells whether they are sound.
class FrameAssembler {
  public:
    // At most one report per byte.
    std::optional<AssemblerOutput> Feed(uint8_t b);
    // Leave any frame in progress, as after a purge of the port.
    void Reset();

    bool InFrame() const { return inFrame_; }
    size_t Length() const { return length_; }

  private:
    std::optional<AssemblerOutput> Judge();

    std::array<uint8_t, kMaxFrame> buffer_{};
    size_t length_ = 0;
    bool inFrame_ = false;
};

}  // namespace qm
