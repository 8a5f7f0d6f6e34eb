// The packet log: line format, intervals between lines, the debug-level gate
// and whole lines under concurrent callers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "link/packet_log.h"
#include "platform/app_log.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

std::atomic<uint32_t> g_fakeTick{0};
uint32_t FakeTick() {
    return g_fakeTick.load();
}

// Runs each test in a fresh current folder with a fake clock at debug level
// 4, and puts the folder, the clock and the level back afterwards.
class PacketLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        cwd_.emplace(dir_.path());
        oldLevel_ = DebugLevel();
        SetDebugLevel(kLogPackets);
        g_fakeTick = 1000;
        SetPacketLogTickSourceForTest(&FakeTick);
        ResetPacketLogReferenceForTest();
    }

    void TearDown() override {
        SetPacketLogTickSourceForTest(nullptr);
        ResetPacketLogReferenceForTest();
        SetDebugLevel(oldLevel_);
        cwd_.reset();
    }

    static std::string ReadLog() { return test::ReadFile("QMPktLog.txt"); }

    static std::vector<std::string> Lines(const std::string& log) {
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
            out.push_back(log.substr(start, end - start));
        }
        EXPECT_EQ(start, log.size()) << "text after the last CR LF";
        return out;
    }

    static void Log(PacketKind kind, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> v(bytes);
        LogPacket(kind, v.data(), v.size());
    }

    test::TempDir dir_;
    std::optional<test::ScopedCwd> cwd_;
    uint32_t oldLevel_ = 1;
};

const std::initializer_list<uint8_t> kBeacon5 = {0x00, 0x05, 0xFA, 0xFF};

TEST_F(PacketLogTest, FirstLineShowsNoIntervalAndEachLineRestartsTheClock) {
    Log(PacketKind::kReceived, kBeacon5);
    g_fakeTick += 7;
    Log(PacketKind::kReceived, kBeacon5);
    g_fakeTick += 12345;
    Log(PacketKind::kReceived, kBeacon5);
    g_fakeTick += 0;
    Log(PacketKind::kReceived, kBeacon5);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 5), "0000 ");
    EXPECT_EQ(lines[1].substr(0, 5), "0007 ");
    EXPECT_EQ(lines[2].substr(0, 6), "12345 ");
    EXPECT_EQ(lines[3].substr(0, 5), "0000 ");
}

TEST_F(PacketLogTest, IntervalAcrossTheTickWrap) {
    g_fakeTick = 0xFFFFFFF0u;
    Log(PacketKind::kSent, kBeacon5);
    g_fakeTick = 0x10;
    Log(PacketKind::kSent, kBeacon5);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "0032 [S] 00 05 FA FF ");
}

TEST_F(PacketLogTest, Tags) {
    Log(PacketKind::kReceived, {0xAB});
    Log(PacketKind::kSent, {0xAB});
    const uint8_t ab = 0xAB;
    for (int e = 2; e <= 6; ++e) LogPacket(static_cast<AssemblerEvent>(e), &ab, 1);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "0000 [R] AB ");
    EXPECT_EQ(lines[1], "0000 [S] AB ");
    EXPECT_EQ(lines[2], "0000 [E2] AB ");
    EXPECT_EQ(lines[3], "0000 [E3] AB ");
    EXPECT_EQ(lines[4], "0000 [E4] AB ");
    EXPECT_EQ(lines[5], "0000 [E5] AB ");
    EXPECT_EQ(lines[6], "0000 [E6] AB ");
}

TEST_F(PacketLogTest, AssemblerEventsCarryTheirLogKinds) {
    FrameAssembler a;
    const std::vector<uint8_t> stream{0x00, 0x05, 0xFA, 0x00, 0x05, 0xFA, 0x01, 0xFD, 0xFF};
    for (uint8_t b : stream) {
        if (auto out = a.Feed(b)) {
            LogPacket(out->event, out->bytes.data(), out->bytes.size());
        }
    }
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "0000 [E6] 00 05 FA ");
    EXPECT_EQ(lines[1], "0000 [E5] 00 05 FA 01 FD FF ");
}

TEST_F(PacketLogTest, SixtyByteFrameLine) {
    std::vector<uint8_t> payload(50, 'x');
    auto f = BuildDataFrame(7, 0x30, 1, 1, payload);
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->length, 60u);
    LogPacket(PacketKind::kSent, f->bytes.data(), f->length);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 5u + 4u + 180u);
    EXPECT_EQ(lines[0].substr(0, 27), "0000 [S] 00 07 F8 30 CF 34 ");
}

TEST_F(PacketLogTest, EmptyFrameAndNullBytes) {
    LogPacket(PacketKind::kReceived, nullptr, 12);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "0000 [R] ");
}

TEST_F(PacketLogTest, NoFileBelowLevelFourButTheReferenceIsTaken) {
    SetDebugLevel(3);
    Log(PacketKind::kSent, kBeacon5);  // first call: reference at 1000
    g_fakeTick = 1020;
    Log(PacketKind::kReceived, kBeacon5);  // not written, reference unchanged
    EXPECT_FALSE(std::filesystem::exists("QMPktLog.txt"));

    SetDebugLevel(kLogPackets);
    g_fakeTick = 1030;
    Log(PacketKind::kSent, kBeacon5);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "0030 [S] 00 05 FA FF ");
}

TEST_F(PacketLogTest, UnopenableFileKeepsTheReference) {
    // A folder by the log's name makes the open fail.
    ASSERT_EQ(mkdir("QMPktLog.txt", 0700), 0);
    Log(PacketKind::kSent, kBeacon5);  // reference at 1000, nothing written
    g_fakeTick = 1010;
    Log(PacketKind::kSent, kBeacon5);
    ASSERT_EQ(rmdir("QMPktLog.txt"), 0);
    g_fakeTick = 1025;
    Log(PacketKind::kSent, kBeacon5);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 5), "0025 ");
}

TEST_F(PacketLogTest, AppendsToAnExistingFile) {
    {
        std::ofstream out("QMPktLog.txt", std::ios::binary);
        out << "earlier\r\n";
    }
    Log(PacketKind::kSent, kBeacon5);
    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier");
}

TEST_F(PacketLogTest, ConcurrentCallersWriteWholeLines) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::vector<uint8_t> frame(60, static_cast<uint8_t>(0x10 + t));
            for (int i = 0; i < kLinesEach; ++i) {
                g_fakeTick.fetch_add(1);
                LogPacket(PacketKind::kSent, frame.data(), frame.size());
            }
        });
    }
    for (auto& th : threads) th.join();

    const auto lines = Lines(ReadLog());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), 5u + 4u + 180u) << line;
        ASSERT_EQ(line.substr(4, 5), " [S] ") << line;
        const std::string first = line.substr(9, 3);
        for (size_t i = 9; i < line.size(); i += 3) ASSERT_EQ(line.substr(i, 3), first) << line;
    }
}

}  // namespace
}  // namespace qm::test
