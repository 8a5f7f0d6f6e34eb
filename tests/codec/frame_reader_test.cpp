// Reading received frames: length classes, data-frame fields and checksum,
// test echoes, and the clock stamp of the clock reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame_codec.h"

namespace qm::test {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(ClassifyLength, Boundaries) {
    EXPECT_EQ(ClassifyLength(0), FrameKind::kInvalid);
    EXPECT_EQ(ClassifyLength(3), FrameKind::kInvalid);
    EXPECT_EQ(ClassifyLength(4), FrameKind::kBeacon);
    EXPECT_EQ(ClassifyLength(5), FrameKind::kControl);
    EXPECT_EQ(ClassifyLength(8), FrameKind::kControl);
    EXPECT_EQ(ClassifyLength(9), FrameKind::kData);
    EXPECT_EQ(ClassifyLength(255), FrameKind::kData);
    EXPECT_EQ(ClassifyLength(256), FrameKind::kInvalid);
}

TEST(DataFrameReader, ReadsWhatTheBuilderWrote) {
    const std::vector<uint8_t> payload{'h', 'e', 'l', 'l', 'o'};
    auto f = BuildDataFrame(0x21, 0x30, 7, 3, payload);
    ASSERT_TRUE(f.has_value());
    const auto v = f->view();
    EXPECT_TRUE(DataChecksumOk(v));
    EXPECT_EQ(DataFragmentTotal(v), 7);
    EXPECT_EQ(DataFragmentNumber(v), 3);
    const auto p = DataPayload(v);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.end()), payload);
}

TEST(DataFrameReader, WorkedExampleFromTheLine) {
    const auto frame =
        Bytes({0x00, 0x03, 0xFC, 0x1C, 0xE3, 0x05, 0x01, 0x01, 0x61, 0x62, 0x63, 0x29, 0xFF});
    EXPECT_TRUE(DataChecksumOk(frame));
    auto damaged = frame;
    damaged[9] = 0x63;  // one payload letter changed
    EXPECT_FALSE(DataChecksumOk(damaged));
    auto badSum = frame;
    badSum[11] = 0x28;
    EXPECT_FALSE(DataChecksumOk(badSum));
    // Only the checksum judges a data frame; the header is not part of it.
    auto header = frame;
    header[2] = 0x11;
    header[4] = 0x77;
    EXPECT_TRUE(DataChecksumOk(header));
}

TEST(DataFrameReader, EmptyPayloadTenByteFrame) {
    // 00 id ~id cmd ~cmd L N k cs FF: the shortest well-formed data frame.
    auto frame = Bytes({0x00, 0x04, 0xFB, 0x30, 0xCF, 0x02, 0x01, 0x01, 0x00, 0xFF});
    frame[8] = FrameChecksum(&frame[6], 2);
    EXPECT_TRUE(DataChecksumOk(frame));
    EXPECT_EQ(DataFragmentTotal(frame), 1);
    EXPECT_EQ(DataFragmentNumber(frame), 1);
    EXPECT_TRUE(DataPayload(frame).empty());
}

TEST(DataFrameReader, NineByteFrameIsMalformed) {
    // Byte 7 would be both k and the checksum. Even when the checksum over
    // byte 6 happens to match byte 7, the frame is not accepted.
    auto frame = Bytes({0x00, 0x04, 0xFB, 0x30, 0xCF, 0x01, 0x01, 0x00, 0xFF});
    frame[7] = FrameChecksum(&frame[6], 1);
    EXPECT_FALSE(DataChecksumOk(frame));
    EXPECT_EQ(DataFragmentTotal(frame), 0);
    EXPECT_EQ(DataFragmentNumber(frame), 0);
    EXPECT_TRUE(DataPayload(frame).empty());
}

TEST(DataFrameReader, ShorterOrLongerThanAFrameIsMalformed) {
    const auto beacon = Bytes({0x00, 0x05, 0xFA, 0xFF});
    EXPECT_FALSE(DataChecksumOk(beacon));
    EXPECT_TRUE(DataPayload(beacon).empty());
    EXPECT_FALSE(DataChecksumOk({}));
    std::vector<uint8_t> huge(256, 0x41);
    EXPECT_FALSE(DataChecksumOk(huge));
    EXPECT_TRUE(DataPayload(huge).empty());
}

TEST(DataFrameReader, PayloadOfTheLongestFrame) {
    std::vector<uint8_t> frame(255, 0x41);
    frame[0] = 0x00;
    frame[254] = 0xFF;
    frame[253] = FrameChecksum(&frame[6], 247);
    EXPECT_TRUE(DataChecksumOk(frame));
    EXPECT_EQ(DataPayload(frame).size(), 245u);
}

TEST(TestEcho, MatchesOnlyAnUnchangedFrameOfThisSequence) {
    auto f = BuildTestFrame(0x07, 42);
    ASSERT_TRUE(f.has_value());
    std::vector<uint8_t> echo(f->bytes.begin(), f->bytes.begin() + f->length);
    EXPECT_TRUE(TestEchoMatches(echo, 42));
    EXPECT_FALSE(TestEchoMatches(echo, 43));

    auto patternBroken = echo;
    patternBroken[30] ^= 0x01;
    EXPECT_FALSE(TestEchoMatches(patternBroken, 42));

    // A short frame with the test command is a wrong echo, not a read past
    // its end.
    std::vector<uint8_t> shortEcho(echo.begin(), echo.begin() + 20);
    shortEcho.back() = 0xFF;
    EXPECT_FALSE(TestEchoMatches(shortEcho, 42));
    auto longEcho = echo;
    longEcho.insert(longEcho.end() - 1, 0x41);
    EXPECT_FALSE(TestEchoMatches(longEcho, 42));
}

std::string Stamp(const std::tm& t) {
    const auto s = BuildClockStamp(t);
    return std::string(s.begin(), s.end());
}

TEST(ClockStamp, Layout) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_wday = 0;  // Sunday
    t.tm_mon = 2;   // March
    t.tm_mday = 3;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(Stamp(t), "2400303070509");

    t.tm_year = 2031 - 1900;
    t.tm_wday = 6;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 60;  // a leap second still fits two digits
    EXPECT_EQ(Stamp(t), "3161231235960");

    t.tm_year = 100;  // 2000
    EXPECT_EQ(Stamp(t).substr(0, 2), "00");
}

TEST(ClockStamp, AlwaysThirteenDigits) {
    std::tm t{};
    t.tm_year = -1;  // 1899
    t.tm_wday = 12;
    t.tm_mon = 2147483647;
    t.tm_mday = -2147483647 - 1;
    t.tm_hour = 123;
    t.tm_min = -5;
    t.tm_sec = 2147483647;
    const std::string s = Stamp(t);
    ASSERT_EQ(s.size(), 13u);
    for (char c : s) EXPECT_TRUE(c >= '0' && c <= '9') << s;
    EXPECT_EQ(s.substr(0, 2), "99");
}

}  // namespace
}  // namespace qm::test
