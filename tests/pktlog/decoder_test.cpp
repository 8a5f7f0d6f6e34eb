// The packet-log decoder reads what the link writes: every entry kind becomes
// its timeline line, and a malformed line is reported while decoding goes on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "link/packet_log.h"
#include "platform/app_log.h"
#include "tests/common/test_support.h"
#include "tools/pktlog/decode.h"

namespace qm::test {
namespace {

uint32_t FixedTick() {
    return 1000;
}

std::string Decode(std::string_view log, size_t chunk) {
    pktlog::LogDecoder decoder;
    std::string out;
    for (size_t i = 0; i < log.size(); i += chunk) decoder.Feed(log.substr(i, chunk), out);
    decoder.Finish(out);
    return out;
}

std::vector<uint8_t> Bytes(const std::optional<Frame>& frame) {
    EXPECT_TRUE(frame);
    return frame ? std::vector<uint8_t>(frame->view().begin(), frame->view().end())
                 : std::vector<uint8_t>();
}

// 1 is a frame sent, otherwise the assembler's event (0 a frame received).
constexpr int kSent = 1;
struct Entry {
    int tag;
    std::vector<uint8_t> bytes;
    const char* expected;
};

TEST(PacketLogDecoder, EveryEntryKindTheLinkWritesReadsBack) {
    const std::vector<uint8_t> gbk = {'a', '"', 'b', 0x01, 0xC4, 0x5C};  // 0x5C: a GBK trail
    const Entry entries[] = {
        {kSent, Bytes(BuildBeaconFrame(5)), "sent     DCB 005  beacon    poll"},
        {0, Bytes(BuildBeaconFrame(5)), "received DCB 005  beacon    answer"},
        {kSent, Bytes(BuildControlFrame(5, 3)),
         "sent     DCB 005  control   0x03 beacon, short message waiting"},
        {0, Bytes(BuildControlFrame(5, 3)), "received DCB 005  control   0x03 page back"},
        {kSent, Bytes(BuildControlFrame(5, 4)), "sent     DCB 005  control   0x04 download done"},
        {0, Bytes(BuildControlFrame(5, 5)), "received DCB 005  control   0x05 clock request"},
        {0, Bytes(BuildControlFrame(5, 0x23)),
         "received DCB 005  control   0x23 download search answer"},
        {kSent, Bytes(BuildControlFrame(5, 2)),
         "sent     DCB 005  control   0x02 checksum error, send again"},
        {0, Bytes(BuildDataFrame(3, 0x41, 2, 1, gbk)),
         "received DCB 003  data      0x41 request, fragment 1/2, \"a\\\"b\\x01\xE8\x85\xAC\", "
         "checksum ok"},
        {0,
         {0x00, 0x03, 0xFC, 0x1C, 0xE3, 0x05, 0x01, 0x01, 0x61, 0x62, 0x63, 0x28, 0xFF},
         "received DCB 003  data      0x1C short message, fragment 1/1, \"abc\", "
         "checksum bad (28, should be 29)"},
        {kSent, Bytes(BuildDownloadFrame(2, 120, 3, Text("Tea"))),
         "sent     DCB 254  download  0x05 file 2, record 3 of 120, \"Tea\", checksum ok"},
        {kSent, Bytes(BuildTestFrame(5, 7)),
         "sent     DCB 005  test      0x55 test, sequence 7, pattern ok, checksum ok"},
        {2,
         {0x00, 0x41, 0x42},
         "received DCB ---  error 2   no end marker within 255 bytes, 3 bytes: 00 41 42"},
        {3,
         {0x00, 0x05, 0xFF},
         "received DCB ---  error 3   end marker after fewer than 4 bytes, 3 bytes: 00 05 FF"},
        {4,
         {0x00, 0x05, 0xFB, 0xFF},
         "received DCB ---  error 4   address complement wrong, 4 bytes: 00 05 FB FF"},
        {5,
         {0x00, 0x05, 0xFA, 0x01, 0xFD, 0xFF},
         "received DCB 005  error 5   command complement wrong, 6 bytes: 00 05 FA 01 FD FF"},
        {6,
         {0x00, 0x05, 0xFA},
         "received DCB 005  error 6   start marker inside a frame, bytes before it, 3 bytes: "
         "00 05 FA"},
    };

    TempDir dir;
    ScopedCwd cwd(dir.path());
    const uint32_t oldLevel = DebugLevel();
    SetDebugLevel(kLogPackets);
    SetPacketLogTickSourceForTest(&FixedTick);
    std::string expected;
    for (const Entry& e : entries) {
        if (e.tag == kSent)
            LogPacket(PacketKind::kSent, e.bytes.data(), e.bytes.size());
        else
            LogPacket(static_cast<AssemblerEvent>(e.tag), e.bytes.data(), e.bytes.size());
        expected += std::string("0000 -          -            -          ") + e.expected + "\n";
    }
    SetPacketLogTickSourceForTest(nullptr);
    ResetPacketLogReferenceForTest();
    SetDebugLevel(oldLevel);
    EXPECT_EQ(Decode(ReadFile("QMPktLog.txt"), 1 << 16), expected);
}

// "<ms> <tag> <hex of bytes>", as the link writes a line.
std::string LogLine(const char* head, const std::vector<uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = head;
    for (const uint8_t b : bytes) {
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
        line += ' ';
    }
    return line;
}

std::vector<uint8_t> DataFrame(const std::vector<uint8_t>& payload) {
    return Bytes(BuildDataFrame(3, 0x41, 1, 1, payload));
}

// Frame text from GBK to UTF-8, with what is no GBK character in hex.
TEST(PacketLogDecoder, TextAsUtf8) {
    const std::string kFrame =
        "0001 -          -            -          received DCB 003  data      0x41 request, "
        "fragment 1/1, ";
    const struct {
        std::vector<uint8_t> payload;
        std::string expected;
    } cases[] = {
        {{0xD6, 0xD0, 0xCE, 0xC4, 'A'},
         "\"\xE4\xB8\xAD\xE6\x96\x87"
         "A\", checksum ok"},
        {{'x', 0xA2, 0x40, 0x80, 0xC4}, "\"x\\xA2@\\x80\\xC4\", checksum ok"},
    };
    for (const auto& c : cases) {
        bool malformed = true;
        EXPECT_EQ(pktlog::DecodeLine(LogLine("0001 [R] ", DataFrame(c.payload)), 9, &malformed),
                  kFrame + c.expected);
        EXPECT_FALSE(malformed);
    }
}

// Fed a byte at a time, so that every line end falls on a chunk boundary.
TEST(PacketLogDecoder, ReportsMalformedLinesAndGoesOn) {
    const std::string log =
        "12345 [S] 00 05 FA FF\r\n"  // no blank after the last byte
        "0015 [S] 00 05 F\r\n"
        "0001 [E7] 00 FF \r\n"
        "garbage\n" +
        std::string(5000, 'A') + "\n0002 [R] 00 05 FA FF ";
    const std::string reports =
        "line 2: malformed, byte 3 is not two hex digits: \"0015 [S] 00 05 F\"\n"
        "line 3: malformed, unknown tag: \"0001 [E7] 00 FF \"\n"
        "line 4: malformed, no time in milliseconds: \"garbage\"\n"
        "line 5: malformed, 5000 characters, too long: \"" +
        std::string(60, 'A') + "\"...\n";
    pktlog::LogDecoder decoder;
    std::string out;
    std::string malformed;
    for (const char c : log) decoder.Feed({&c, 1}, out, &malformed);
    decoder.Finish(out, &malformed);
    EXPECT_EQ(out,
              "12345 -          -            -          sent     DCB 005  beacon    poll\n" +
                  reports +
                  "0002 -          -            -          received DCB 005  beacon    answer\n");
    EXPECT_EQ(malformed, reports);
    EXPECT_EQ(decoder.MalformedLines(), 4u);
}

}  // namespace
}  // namespace qm::test
