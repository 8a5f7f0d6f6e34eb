// The receive side's frame assembler: cutting a byte stream into frames and
// rejecting malformed ones.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "link/frame_codec.h"

namespace qm::test {
namespace {

using ByteVec = std::vector<uint8_t>;

ByteVec Bytes(std::initializer_list<int> values) {
    ByteVec out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

struct Report {
    AssemblerEvent event;
    FrameKind kind;
    ByteVec bytes;
};

std::vector<Report> FeedAll(FrameAssembler& a, const ByteVec& stream) {
    std::vector<Report> out;
    for (uint8_t b : stream) {
        auto r = a.Feed(b);
        if (r)
            out.push_back({r->event, r->kind, ByteVec(r->bytes.begin(), r->bytes.end())});
    }
    return out;
}

std::vector<Report> FeedAll(const ByteVec& stream) {
    FrameAssembler a;
    return FeedAll(a, stream);
}

// Bytes written as hex pairs: "00 05 FA FF".
ByteVec H(const std::string& hex) {
    ByteVec out;
    for (size_t i = 0; i + 1 < hex.size(); i += 3)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// A frame start, `fill` bytes 0x41, then `tail`.
ByteVec Long(size_t fill, const ByteVec& tail) {
    ByteVec out(1 + fill, 0x41);
    out[0] = 0x00;
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST(FrameAssembler, StreamsGiveTheirReports) {
    using E = AssemblerEvent;
    using K = FrameKind;
    const Report beacon{E::kFrame, K::kBeacon, H("00 05 FA FF")};
    const ByteVec data = H("00 03 03 1C 1C 05 01 01 61 FF");
    const ByteVec nine = H("00 03 03 1C 1C 05 01 01 FF");
    const struct {
        ByteVec stream;
        std::vector<Report> reports;
    } cases[] = {
        {H("12 34 00 05 FA FF"), {beacon}},  // noise before the start
        {H("00 05 FA 00 05 FA FF"), {{E::kStartMarkerInside, K::kInvalid, H("00 05 FA")}, beacon}},
        {H("00 00 00 05 FA FF"),
         {{E::kStartMarkerInside, K::kInvalid, H("00")},
          {E::kStartMarkerInside, K::kInvalid, H("00")},
          beacon}},
        {H("00 05 FA 01 FE FF"), {{E::kFrame, K::kControl, H("00 05 FA 01 FE FF")}}},
        {H("00 05 FA 01 FD FF"), {{E::kBadCommandComplement, K::kControl, H("00 05 FA 01 FD FF")}}},
        // The address is judged before the command.
        {H("00 05 FB 01 FD FF"), {{E::kBadAddressComplement, K::kControl, H("00 05 FB 01 FD FF")}}},
        // 5 to 8 bytes are control frames; their extra bytes are not looked at.
        {H("00 05 FA 23 DC 41 42 FF"), {{E::kFrame, K::kControl, H("00 05 FA 23 DC 41 42 FF")}}},
        {H("00 05 FA 23 DD 41 42 FF"),
         {{E::kBadCommandComplement, K::kControl, H("00 05 FA 23 DD 41 42 FF")}}},
        // The end marker stands where the complement should be: 0x01 + 0xFF is not 0xFF.
        {H("00 05 FA 01 FF"), {{E::kBadCommandComplement, K::kControl, H("00 05 FA 01 FF")}}},
        {H("00 05 FB FF"), {{E::kBadAddressComplement, K::kBeacon, H("00 05 FB FF")}}},
        {H("00 FF"), {{E::kTooShort, K::kInvalid, H("00 FF")}}},
        {H("00 05 FF 00 05 FA FF"), {{E::kTooShort, K::kInvalid, H("00 05 FF")}, beacon}},
        {H("FF FF 05"), {}},  // end markers outside a frame
        // The frame handler judges complements and checksum of data frames.
        {data, {{E::kFrame, K::kData, data}}},
        {nine, {{E::kFrame, K::kData, nine}}},
        {Long(253, H("FF")), {{E::kFrame, K::kData, Long(253, H("FF"))}}},
        // What follows an overflow up to the next start is noise, an end marker included.
        {Long(255, H("41 FF 42 00 05 FA FF")),
         {{E::kNoEndMarker, K::kInvalid, Long(254, {})}, beacon}},
        {Long(254, H("FF 00 05 FA FF")), {{E::kNoEndMarker, K::kInvalid, Long(254, {})}, beacon}},
        // A start after 255 bytes begins the next frame.
        {Long(254, H("00 05 FA FF")), {{E::kStartMarkerInside, K::kData, Long(254, {})}, beacon}},
    };
    for (const auto& c : cases) {
        const auto r = FeedAll(c.stream);
        ASSERT_EQ(r.size(), c.reports.size()) << ::testing::PrintToString(c.stream);
        for (size_t i = 0; i < r.size(); ++i) {
            const std::string at = ::testing::PrintToString(c.stream) + " #" + std::to_string(i);
            EXPECT_EQ(r[i].event, c.reports[i].event) << at;
            EXPECT_EQ(r[i].kind, c.reports[i].kind) << at;
            EXPECT_EQ(r[i].bytes, c.reports[i].bytes) << at;
        }
    }
}

TEST(FrameAssembler, ResetLeavesTheFrame) {
    FrameAssembler a;
    FeedAll(a, Bytes({0x00, 0x05}));
    EXPECT_TRUE(a.InFrame());
    a.Reset();
    EXPECT_FALSE(a.InFrame());
    // The tail of the abandoned frame is noise now.
    EXPECT_TRUE(FeedAll(a, Bytes({0xFA, 0xFF})).empty());
}

// Frames the link builds, chosen at random, with payloads that the builders
// accept and whose checksum is not a marker.
ByteVec RandomCleanFrame(std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(1, 0xFE);
    std::uniform_int_distribution<int> kind(0, 3);
    for (;;) {
        const auto id = static_cast<uint8_t>(byte(rng));
        const auto cmd = static_cast<uint8_t>(byte(rng));
        std::optional<Frame> f;
        switch (kind(rng)) {
            case 0:
                f = BuildBeaconFrame(id);
                break;
            case 1:
                f = BuildControlFrame(id, cmd);
                break;
            case 2: {
                ByteVec payload(std::uniform_int_distribution<size_t>(1, kMaxPayload)(rng));
                for (auto& b : payload) b = static_cast<uint8_t>(byte(rng));
                f = BuildDataFrame(id, cmd, 3, 2, payload);
                break;
            }
            default: {
                ByteVec text(std::uniform_int_distribution<size_t>(0, kMaxDownloadText)(rng));
                for (auto& b : text) b = static_cast<uint8_t>(byte(rng));
                f = BuildDownloadFrame(static_cast<uint8_t>(cmd % 11), 900, 450, text);
                break;
            }
        }
        if (f && FrameInteriorClean(f->view()))
            return {f->bytes.begin(), f->bytes.begin() + f->length};
    }
}

TEST(FrameAssemblerProperty, EveryBuiltFrameComesOutWholeBetweenNoise) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> noiseByte(1, 0xFF);  // anything but a start
    std::uniform_int_distribution<int> noiseLength(0, 40);
    for (int round = 0; round < 200; ++round) {
        ByteVec stream;
        std::vector<ByteVec> sent;
        for (int i = 0; i < 20; ++i) {
            for (int n = noiseLength(rng); n > 0; --n)
                stream.push_back(static_cast<uint8_t>(noiseByte(rng)));
            sent.push_back(RandomCleanFrame(rng));
            stream.insert(stream.end(), sent.back().begin(), sent.back().end());
        }
        const auto r = FeedAll(stream);
        ASSERT_EQ(r.size(), sent.size()) << "round " << round;
        for (size_t i = 0; i < r.size(); ++i) {
            ASSERT_EQ(r[i].event, AssemblerEvent::kFrame) << "round " << round << " frame " << i;
            ASSERT_EQ(r[i].bytes, sent[i]) << "round " << round << " frame " << i;
        }
    }
}

TEST(FrameAssemblerProperty, ArbitraryBytesStayBoundedAndResynchronise) {
    std::mt19937 rng(7);
    // Markers are made common so that every path is taken often.
    std::discrete_distribution<int> pick({10, 10, 80});
    std::uniform_int_distribution<int> any(0, 0xFF);
    std::uniform_int_distribution<size_t> length(0, 900);
    int reports = 0;
    for (int round = 0; round < 300; ++round) {
        FrameAssembler a;
        ByteVec garbage(length(rng));
        for (auto& b : garbage) {
            const int p = pick(rng);
            b = p == 0 ? 0x00 : p == 1 ? 0xFF : static_cast<uint8_t>(any(rng));
        }
        for (uint8_t b : garbage) {
            auto out = a.Feed(b);
            ASSERT_LE(a.Length(), kMaxFrame);
            if (!out)
                continue;
            ++reports;
            const auto& bytes = out->bytes;
            ASSERT_GE(bytes.size(), 1u);
            ASSERT_LE(bytes.size(), kMaxFrame);
            ASSERT_EQ(bytes[0], 0x00);
            for (size_t i = 1; i + 1 < bytes.size(); ++i) ASSERT_NE(bytes[i], 0x00);
            switch (out->event) {
                case AssemblerEvent::kFrame:
                    ASSERT_EQ(bytes.back(), 0xFF);
                    ASSERT_GE(bytes.size(), 4u);
                    if (bytes.size() <= 8) {
                        ASSERT_EQ(bytes[1] + bytes[2], 0xFF);
                    }
                    if (bytes.size() >= 5 && bytes.size() <= 8) {
                        ASSERT_EQ(bytes[3] + bytes[4], 0xFF);
                    }
                    break;
                case AssemblerEvent::kNoEndMarker:
                    ASSERT_EQ(bytes.size(), kMaxFrame);
                    break;
                case AssemblerEvent::kTooShort:
                    ASSERT_LT(bytes.size(), 4u);
                    break;
                case AssemblerEvent::kBadAddressComplement:
                    ASSERT_NE(bytes[1] + bytes[2], 0xFF);
                    break;
                case AssemblerEvent::kBadCommandComplement:
                    ASSERT_NE(bytes[3] + bytes[4], 0xFF);
                    break;
                case AssemblerEvent::kStartMarkerInside:
                    ASSERT_NE(bytes.back(), 0xFF);
                    break;
            }
        }
        // Whatever state the garbage left behind, the next frame gets through.
        const ByteVec frame = RandomCleanFrame(rng);
        const auto r = FeedAll(a, frame);
        ASSERT_FALSE(r.empty());
        ASSERT_LE(r.size(), 2u);  // at most the abandoned part, then the frame
        if (r.size() == 2) {
            ASSERT_EQ(r[0].event, AssemblerEvent::kStartMarkerInside);
        }
        ASSERT_EQ(r.back().event, AssemblerEvent::kFrame);
        ASSERT_EQ(r.back().bytes, frame);
    }
    EXPECT_GT(reports, 1000);
}

}  // namespace
}  // namespace qm::test
