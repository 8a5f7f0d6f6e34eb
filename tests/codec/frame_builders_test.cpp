// Frame checksum and the frame builders: the bytes the manager puts on the
// serial line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> Of(const Frame& f) {
    return {f.bytes.begin(), f.bytes.begin() + f.length};
}

TEST(FrameChecksum, WorkedValuesAndEdges) {
    const struct {
        std::vector<uint8_t> bytes;
        uint8_t sum;
    } cases[] = {
        {{}, 1},
        {Bytes({0x01, 0x02, 0x03}), 0x07},
        {Text("abc"), 0x27},
        // 1 + 0x80 = 129 folds to 1, then + 0x7F = 128: it folds after every
        // byte. Summing first and folding once would give 256 mod 256 = 0.
        {Bytes({0x80, 0x7F}), 0x80},
        // s = 128 after 0x7F, then 0x80 makes 256 = 0: the start marker.
        {Bytes({0x7F, 0x80}), 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameChecksum(c.bytes.data(), c.bytes.size()), c.sum)
            << ::testing::PrintToString(c.bytes);
}

TEST(FrameChecksum, NeverExceeds128) {
    std::vector<uint8_t> p;
    for (int i = 0; i < 600; ++i) {
        p.push_back(static_cast<uint8_t>((i * 37 + 11) & 0xFF));
        EXPECT_LE(FrameChecksum(p.data(), p.size()), 128) << "after " << p.size() << " bytes";
    }
}

TEST(TestFrame, ShortcutChecksumMatchesTheGeneralOneForEverySequence) {
    for (int seq = 1; seq <= 254; ++seq) {
        auto f = BuildTestFrame(0x07, static_cast<uint8_t>(seq));
        ASSERT_TRUE(f.has_value());
        ASSERT_EQ(f->length, kTestFrameLength);
        EXPECT_EQ(f->bytes[59], FrameChecksum(f->bytes.data() + 6, 53)) << "sequence " << seq;
        EXPECT_EQ(TestFrameChecksum(static_cast<uint8_t>(seq)), f->bytes[59]) << "sequence " << seq;
    }
    EXPECT_EQ(TestFrameChecksum(1), 100);  // the first frame after start-up
    EXPECT_EQ(TestFrameChecksum(28), 0x7F);
    EXPECT_EQ(TestFrameChecksum(29), 0x80);
    EXPECT_EQ(TestFrameChecksum(30), 0x01);
    EXPECT_EQ(TestFrameChecksum(157), 0x80);
    EXPECT_EQ(TestFrameChecksum(254), 0x61);
}

TEST(TestFrame, Layout) {
    auto f = BuildTestFrame(0x0C, 9);
    ASSERT_TRUE(f.has_value());
    const auto b = Of(*f);
    ASSERT_EQ(b.size(), 61u);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x0C);
    EXPECT_EQ(b[2], 0xF3);
    EXPECT_EQ(b[3], 0x55);
    EXPECT_EQ(b[4], 0xAA);
    EXPECT_EQ(b[5], 0x35);
    EXPECT_EQ(b[6], 9);
    for (int i = 0; i < 52; ++i) EXPECT_EQ(b[7 + i], i + 1);
    EXPECT_EQ(b[60], 0xFF);
    EXPECT_TRUE(FrameInteriorClean(f->view()));
}

TEST(TestFrame, RefusesMarkerSequenceAndId) {
    EXPECT_FALSE(BuildTestFrame(0x07, 0).has_value());
    EXPECT_FALSE(BuildTestFrame(0x07, 255).has_value());
    EXPECT_FALSE(BuildTestFrame(0x00, 1).has_value());
    EXPECT_FALSE(BuildTestFrame(0xFF, 1).has_value());
}

TEST(BeaconAndControl, Layout) {
    auto beacon = BuildBeaconFrame(5);
    ASSERT_TRUE(beacon.has_value());
    EXPECT_EQ(Of(*beacon), Bytes({0x00, 0x05, 0xFA, 0xFF}));

    auto ack = BuildControlFrame(5, kCmdAck);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(Of(*ack), Bytes({0x00, 0x05, 0xFA, 0x01, 0xFE, 0xFF}));

    auto search = BuildControlFrame(kBroadcastId, kCmdDownloadSearch);
    ASSERT_TRUE(search.has_value());
    EXPECT_EQ(Of(*search), Bytes({0x00, 0xFE, 0x01, 0x23, 0xDC, 0xFF}));
}

TEST(BeaconAndControl, RefuseIdsAndCommandsThatAreMarkers) {
    // Id 0 would give 00 00 FF FF: a 3-byte frame to every receiver.
    EXPECT_FALSE(BuildBeaconFrame(0x00).has_value());
    EXPECT_FALSE(BuildBeaconFrame(0xFF).has_value());
    EXPECT_FALSE(BuildControlFrame(0x00, kCmdAck).has_value());
    EXPECT_FALSE(BuildControlFrame(0x05, 0x00).has_value());
    EXPECT_FALSE(BuildControlFrame(0x05, 0xFF).has_value());
    EXPECT_TRUE(BuildBeaconFrame(0x01).has_value());
    EXPECT_TRUE(BuildBeaconFrame(0xFE).has_value());
}

TEST(DataFrame, WorkedExample) {
    const auto abc = Text("abc");
    auto f = BuildDataFrame(3, kCmdShortMessage, 1, 1, abc);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(Of(*f), Bytes({0x00, 0x03, 0xFC, 0x1C, 0xE3, 0x05, 0x01, 0x01, 0x61, 0x62, 0x63, 0x29,
                             0xFF}));
}

TEST(DataFrame, LengthsAndFields) {
    auto full = BuildDataFrame(7, 0x30, 1, 1, std::vector<uint8_t>(50, 'x'));
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->length, 60u);
    EXPECT_EQ(full->bytes[5], 52);
    EXPECT_EQ(full->bytes[59], 0xFF);

    auto small = BuildDataFrame(7, 0x30, 9, 5, Text("Z"));
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(Of(*small),
              Bytes({0x00, 0x07, 0xF8, 0x30, 0xCF, 0x03, 0x09, 0x05, 0x5A, 0x69, 0xFF}));
}

TEST(DataFrame, EmptyPayloadIsTheControlFrameOfTheCommand) {
    // Fragment numbers are not part of a control frame, so even nonsense
    // ones do not matter here.
    auto f = BuildDataFrame(0x11, 0x2A, 0, 0, {});
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(Of(*f), Bytes({0x00, 0x11, 0xEE, 0x2A, 0xD5, 0xFF}));
}

TEST(DataFrame, Refusals) {
    const std::vector<uint8_t> tooLong(51, 'x');
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 1, 1, tooLong).has_value());
    const auto abc = Text("abc");
    // Fragment counts that do not fit a byte clear of the markers.
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 0, 1, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 255, 1, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 256, 1, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 300, 1, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 4, 0, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 4, 5, abc).has_value());
    EXPECT_TRUE(BuildDataFrame(7, 0x30, 254, 254, abc).has_value());
    // Marker bytes in the payload would cut the frame on the line.
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 1, 1, Bytes({'a', 0x00, 'b'})).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0x30, 1, 1, Bytes({'a', 0xFF, 'b'})).has_value());
    EXPECT_FALSE(BuildDataFrame(0x00, 0x30, 1, 1, abc).has_value());
    EXPECT_FALSE(BuildDataFrame(7, 0xFF, 1, 1, abc).has_value());
}

TEST(DataFrame, OnlyAZeroChecksumLeavesAMarkerInside) {
    // Every payload byte the builder accepts, in every position, keeps the
    // frame clean unless the checksum itself comes out as 0x00.
    int zeroChecksums = 0;
    for (int b = 1; b <= 0xFE; ++b) {
        for (int filler = 1; filler <= 0xFE; filler += 51) {
            const auto payload = Bytes({filler, b, filler ^ 0x40});
            auto f = BuildDataFrame(9, 0x40, 2, 1, payload);
            ASSERT_TRUE(f.has_value());
            const bool zero = f->bytes[f->length - 2] == 0x00;
            zeroChecksums += zero ? 1 : 0;
            EXPECT_EQ(FrameInteriorClean(f->view()), !zero) << b << " " << filler;
        }
    }
    EXPECT_GT(zeroChecksums, 0);  // the case exists and is reported
}

TEST(RecordCounter, StaysClearOfMarkersAndDecodesBack) {
    for (uint32_t v = 0; v <= kMaxRecordCounter; ++v) {
        auto c = EncodeRecordCounter(v);
        ASSERT_TRUE(c.has_value()) << v;
        ASSERT_GE((*c)[0], 0x01);
        ASSERT_LE((*c)[0], 0xFE);
        ASSERT_GE((*c)[1], 0x01);
        ASSERT_LE((*c)[1], 0xFE);
        auto back = DecodeRecordCounter((*c)[0], (*c)[1]);
        ASSERT_TRUE(back.has_value());
        ASSERT_EQ(*back, v);
    }
    auto top = EncodeRecordCounter(50799);
    EXPECT_EQ((*top)[0], 200);
    EXPECT_EQ((*top)[1], 254);
    EXPECT_FALSE(EncodeRecordCounter(50800).has_value());
    EXPECT_FALSE(DecodeRecordCounter(0, 1).has_value());
    EXPECT_FALSE(DecodeRecordCounter(201, 1).has_value());
    EXPECT_FALSE(DecodeRecordCounter(1, 255).has_value());
}

TEST(DownloadFrame, Layout) {
    // File 2, record 450 of 201 lines.
    auto f = BuildDownloadFrame(2, 450, 201, Text("1001,Fish"));
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(Of(*f), Bytes({0x00, 0xFE, 0x01, 0x05, 0xFA, 0x0D, 0x33, 0x03, 0x02, 0x02, '1',
                             '0',  '0',  '1',  ',',  'F',  'i',  's',  'h',  0x33, 0xFF}));
}

TEST(DownloadFrame, FileIndexAndCommand) {
    const auto text = Text("x");
    for (uint8_t i = 0; i < 11; ++i) {
        auto f = BuildDownloadFrame(i, 1, 1, text);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->bytes[3], 3 + i);
    }
    EXPECT_FALSE(BuildDownloadFrame(11, 1, 1, text).has_value());
}

TEST(DownloadFrame, RefusesWhatCannotBeSent) {
    const std::vector<uint8_t> fits(243, 'a');
    auto f = BuildDownloadFrame(0, 1, 1, fits);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->length, 255u);
    // A download line may be up to 511 bytes; past 243 it has no frame.
    const std::vector<uint8_t> tooLong(244, 'a');
    EXPECT_FALSE(BuildDownloadFrame(0, 1, 1, tooLong).has_value());
    EXPECT_FALSE(BuildDownloadFrame(0, 50800, 1, Text("a")).has_value());
    EXPECT_FALSE(BuildDownloadFrame(0, 1, 50800, Text("a")).has_value());
    EXPECT_FALSE(BuildDownloadFrame(0, 1, 1, Bytes({'a', 0xFF})).has_value());
    EXPECT_FALSE(BuildDownloadFrame(0, 1, 1, Bytes({0x00})).has_value());
}

}  // namespace
}  // namespace qm::test
