// The line bytes: checksum, frame layouts, frame judging and the receiver's
// cutting of a byte stream, checked against known values.
#include <gtest/gtest.h>

#include "tools/devsim/frame.h"

namespace qm::devsim {
namespace {

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST(Checksum, KnownValues) {
    EXPECT_EQ(Checksum({}), 1);
    const Bytes counting{0x01, 0x02, 0x03};
    EXPECT_EQ(Checksum(counting), 0x07);
    EXPECT_EQ(Checksum(Text("abc")), 0x27);
    // The fold applies after every byte: 1+0x7F = 128 stays, +0x01 = 129
    // folds to 1, +0x7F = 128. Folding only at the end would give 0.
    const Bytes perByte{0x7F, 0x01, 0x7F};
    EXPECT_EQ(Checksum(perByte), 128);
    // And the checksum itself can be the start marker.
    const Bytes zero{0x7F, 0x80};
    EXPECT_EQ(Checksum(zero), 0x00);
}

TEST(FrameBuild, DataFrameMatchesTheWorkedExample) {
    const Bytes expected{0x00, 0x03, 0xFC, 0x1C, 0xE3, 0x05, 0x01,
                         0x01, 0x61, 0x62, 0x63, 0x29, 0xFF};
    EXPECT_EQ(DataFrame(3, 0x1C, 1, 1, Text("abc")), expected);
}

TEST(FrameBuild, BeaconAndControlFrames) {
    EXPECT_EQ(BeaconFrame(5), (Bytes{0x00, 0x05, 0xFA, 0xFF}));
    EXPECT_EQ(ControlFrame(5, kCmdAck), (Bytes{0x00, 0x05, 0xFA, 0x01, 0xFE, 0xFF}));
}

TEST(FrameBuild, DataFrameLengthsAtTheLimits) {
    EXPECT_EQ(DataFrame(7, 0x0D, 1, 1, Bytes(50, 'x')).size(), 60u);
    EXPECT_EQ(DataFrame(7, 0x0D, 1, 1, Bytes(1, 'x')).size(), 11u);
    // Never longer than a receive buffer, whatever the caller passes.
    EXPECT_EQ(DataFrame(7, 0x0D, 1, 1, Bytes(400, 'x')).size(), kMaxFrameLength);
}

TEST(FrameBuild, TestFrameChecksumFollowsTheSequenceShortcut) {
    for (int seq = 1; seq <= 254; ++seq) {
        const Bytes frame = TestFrame(9, static_cast<uint8_t>(seq));
        ASSERT_EQ(frame.size(), kTestFrameLength);
        int expected = ((seq - 29) % 128 + 128) % 128;
        if (expected == 0) {
            expected = 0x80;
        }
        EXPECT_EQ(frame[59], expected) << "sequence " << seq;
        EXPECT_EQ(frame[7], 0x01);
        EXPECT_EQ(frame[58], 0x34);
    }
}

TEST(FrameBuild, BroadcastCountersAreBase200DigitsPlusOne) {
    const Bytes line = BroadcastLineFrame(3, 250, 200, Text("x"));
    EXPECT_EQ(line[1], 0xFE);
    EXPECT_EQ(line[2], 0x01);
    EXPECT_EQ(line[5], 5);  // one text byte + 4
    EXPECT_EQ(line[6], 51);
    EXPECT_EQ(line[7], 2);
    EXPECT_EQ(line[8], 1);
    EXPECT_EQ(line[9], 2);
    const Frame parsed = ParseFrame(line);
    EXPECT_EQ(parsed.kind, FrameKind::kBroadcast);
    EXPECT_EQ(parsed.recordTotal, 250u);
    EXPECT_EQ(parsed.recordNumber, 200u);
    EXPECT_TRUE(parsed.checksumOk);
    // The largest counters still keep clear of the end marker.
    const Bytes last = BroadcastLineFrame(4, 50799, 50799, Text("y"));
    EXPECT_EQ(last[7], 0xFE);
    EXPECT_EQ(ParseFrame(last).recordNumber, 50799u);
    // A 20-byte line of file 1 is 32 bytes with length byte 24.
    const Bytes twenty = BroadcastLineFrame(4, 3, 1, Bytes(20, 'z'));
    EXPECT_EQ(twenty.size(), 32u);
    EXPECT_EQ(twenty[5], 24);
}

TEST(FrameParse, KindsByLength) {
    EXPECT_EQ(ParseFrame(BeaconFrame(12)).kind, FrameKind::kBeacon);
    const Frame control = ParseFrame(ControlFrame(12, kCmdSearch));
    EXPECT_EQ(control.kind, FrameKind::kControl);
    EXPECT_EQ(control.command, kCmdSearch);
    const Frame data = ParseFrame(DataFrame(12, 0x0D, 3, 2, Text("hello")));
    EXPECT_EQ(data.kind, FrameKind::kData);
    EXPECT_EQ(data.address, 12);
    EXPECT_EQ(data.total, 3);
    EXPECT_EQ(data.number, 2);
    EXPECT_EQ(data.payload, Text("hello"));
    EXPECT_TRUE(data.checksumOk);
    const Frame test = ParseFrame(TestFrame(12, 77));
    EXPECT_EQ(test.kind, FrameKind::kTest);
    EXPECT_EQ(test.sequence, 77);
    EXPECT_EQ(test.payload.size(), 52u);
    EXPECT_TRUE(test.checksumOk);
}

TEST(FrameParse, RejectsWhatFitsNoKind) {
    EXPECT_EQ(ParseFrame(Bytes{0x00, 0x05, 0xFF}).kind, FrameKind::kMalformed);
    EXPECT_EQ(ParseFrame(Bytes{0x00, 0x05, 0xFB, 0xFF}).kind, FrameKind::kMalformed);
    EXPECT_EQ(ParseFrame(Bytes{0x00, 0x05, 0xFA, 0x01, 0xFD, 0xFF}).kind, FrameKind::kMalformed);
    EXPECT_EQ(ParseFrame(Bytes{0x00, 0x05, 0xFA, 0x01, 0xFE, 0x01, 0xFF}).kind,
              FrameKind::kMalformed);
    // A length byte that disagrees with the frame: nothing is read past it.
    Bytes lying = DataFrame(5, 0x0D, 1, 1, Text("abc"));
    lying[5] = 200;
    EXPECT_EQ(ParseFrame(lying).kind, FrameKind::kMalformed);
    // Fragment numbers out of range.
    Bytes k0 = DataFrame(5, 0x0D, 2, 1, Text("abc"));
    k0[7] = 3;
    RestampChecksum(k0);
    EXPECT_EQ(ParseFrame(k0).kind, FrameKind::kMalformed);
}

TEST(FrameParse, WrongChecksumIsReportedNotHidden) {
    Bytes frame = DataFrame(5, 0x0D, 1, 1, Text("abc"));
    frame[frame.size() - 2] ^= 0x01;
    const Frame parsed = ParseFrame(frame);
    EXPECT_EQ(parsed.kind, FrameKind::kData);
    EXPECT_FALSE(parsed.checksumOk);
}

class Assembler : public ::testing::Test {
  protected:
    std::vector<Bytes> Feed(const Bytes& bytes) {
        std::vector<Bytes> frames;
        assembler_.Feed(bytes, frames);
        return frames;
    }
    FrameAssembler assembler_;
};

TEST_F(Assembler, FrameSplitAcrossReads) {
    EXPECT_TRUE(Feed({0x00, 0x05}).empty());
    EXPECT_TRUE(Feed({0xFA}).empty());
    const auto frames = Feed({0xFF});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], BeaconFrame(5));
}

TEST_F(Assembler, SeveralFramesInOneRead) {
    Bytes both = BeaconFrame(5);
    const Bytes control = ControlFrame(6, kCmdAck);
    both.insert(both.end(), control.begin(), control.end());
    const auto frames = Feed(both);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], control);
}

TEST_F(Assembler, StrayBytesAndRestartedFrames) {
    const auto frames = Feed({0x12, 0x34, 0x00, 0x05, 0xFA, 0x00, 0x05, 0xFA, 0xFF});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], BeaconFrame(5));
    EXPECT_EQ(assembler_.StrayBytes(), 2u);
    EXPECT_EQ(assembler_.InterruptedFrames(), 1u);
}

TEST_F(Assembler, LongestFrameKeptOneByteMoreDiscarded) {
    Bytes longest{0x00};
    longest.insert(longest.end(), 253, 0x41);
    longest.push_back(0xFF);
    ASSERT_EQ(longest.size(), 255u);
    EXPECT_EQ(Feed(longest).size(), 1u);

    Bytes tooLong{0x00};
    tooLong.insert(tooLong.end(), 254, 0x41);
    tooLong.push_back(0xFF);  // the 256th byte: the frame is lost, end marker too
    EXPECT_TRUE(Feed(tooLong).empty());
    EXPECT_EQ(assembler_.OverlongFrames(), 1u);
    // The receiver is back outside a frame and takes the next one whole.
    EXPECT_EQ(Feed(BeaconFrame(5)).size(), 1u);
}

}  // namespace
}  // namespace qm::devsim
