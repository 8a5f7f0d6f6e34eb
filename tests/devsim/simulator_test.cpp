// The simulator's own housekeeping: port links, several stations served by
// one thread, tracing, a manager that stops reading, and an idle line that
// must cost nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <mutex>

#include "tests/common/test_support.h"
#include "tests/devsim/manager_line.h"
#include "tools/devsim/device_simulator.h"

namespace qm::devsim {
namespace {

using qm::test::TempDir;
using test::ManagerLine;

std::string LinkTarget(const std::string& path) {
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    return n > 0 ? std::string(target.data(), static_cast<size_t>(n)) : std::string();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int64_t ProcessCpuUs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1'000'000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

TEST(PortLinks, CreatedReplacedAndRemoved) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    const std::string link = home.path() + "/ports/COM3";
    {
        DeviceSimulator first(home.path());
        Station& station = first.AddStation("COM3");
        ASSERT_TRUE(station.Ok()) << station.Error();
        EXPECT_EQ(LinkTarget(link), station.SlavePath());
        EXPECT_EQ(&first.AddStation("COM3"), &station);
        EXPECT_EQ(first.FindStation("COM3"), &station);
        EXPECT_EQ(first.FindStation("COM4"), nullptr);

        // A second simulator takes the name over (a left-over link of a run
        // that was killed looks the same).
        DeviceSimulator second(home.path());
        Station& again = second.AddStation("COM3");
        ASSERT_TRUE(again.Ok()) << again.Error();
        EXPECT_EQ(LinkTarget(link), again.SlavePath());
        EXPECT_NE(again.SlavePath(), station.SlavePath());
    }
    EXPECT_FALSE(Exists(link));
}

TEST(PortLinks, NeverReplacesAnythingButALinkNorLeavesThePortsFolder) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    DeviceSimulator sim(home.path());
    std::ofstream(home.path() + "/ports/COM4") << "keep me";
    Station& file = sim.AddStation("COM4");
    EXPECT_FALSE(file.Ok());
    EXPECT_FALSE(file.Error().empty());
    std::string content;
    std::ifstream(home.path() + "/ports/COM4") >> content;
    EXPECT_EQ(content, "keep");

    for (const char* name : {"", ".", "..", "../COM5", "a/b"}) {
        EXPECT_FALSE(sim.AddStation(name).Ok()) << name;
    }
    EXPECT_FALSE(Exists(home.path() + "/COM5"));
    // A station that failed is harmless to the running simulator.
    EXPECT_TRUE(sim.Start());
    Station& good = sim.AddStation("COM6");
    ASSERT_TRUE(good.Ok());
    good.AddTerminal(1);
    ManagerLine line;
    ASSERT_TRUE(line.Open(home.path() + "/ports/COM6"));
    ASSERT_TRUE(line.Write(BeaconFrame(1)));
    EXPECT_EQ(line.ReadFrame(), BeaconFrame(1));
}

TEST(Simulator, OneThreadServesSeveralStationsAndTracesInOrder) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    DeviceSimulator sim(home.path());
    std::mutex traceMu;
    std::vector<FrameRecord> traced;
    sim.SetTraceSink([&](const FrameRecord& record) {
        std::lock_guard lock(traceMu);
        traced.push_back(record);
    });
    Station& a = sim.AddStation("COM3");
    Station& b = sim.AddStation("COM4");
    ASSERT_TRUE(a.Ok() && b.Ok());
    a.AddTerminal(5);
    b.AddTerminal(5);
    b.AddTerminal(6).QueueControlRequest(0x30);
    ASSERT_TRUE(sim.Start());
    ManagerLine lineA;
    ManagerLine lineB;
    ASSERT_TRUE(lineA.Open(home.path() + "/ports/COM3"));
    ASSERT_TRUE(lineB.Open(home.path() + "/ports/COM4"));

    ASSERT_TRUE(lineA.Write(BeaconFrame(5)));
    ASSERT_TRUE(lineB.Write(BeaconFrame(6)));
    EXPECT_EQ(lineA.ReadFrame(), BeaconFrame(5));
    EXPECT_EQ(lineB.ReadFrame(), ControlFrame(6, 0x30));
    // Terminal 6 lives on COM4 only.
    ASSERT_TRUE(lineA.Write(BeaconFrame(6)));
    EXPECT_TRUE(lineA.QuietFor(100));

    ASSERT_TRUE(sim.WaitFor(
        [&] {
            std::lock_guard lock(traceMu);
            return traced.size() == 5;
        },
        1000));
    std::lock_guard lock(traceMu);
    int64_t last = 0;
    for (const FrameRecord& record : traced) {
        EXPECT_GE(record.timeUs, last);
        last = record.timeUs;
    }
    EXPECT_EQ(sim.FrameCount(), 5u);
}

TEST(Simulator, ManagerThatStopsReadingCannotMakeItGrow) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    DeviceSimulator sim(home.path());
    sim.SetHistoryLimit(3);
    Station& station = sim.AddStation("COM3");
    ASSERT_TRUE(station.Ok());
    ASSERT_TRUE(sim.Start());
    ManagerLine line;
    ASSERT_TRUE(line.Open(home.path() + "/ports/COM3"));

    // Far more than the line and the station together hold back.
    constexpr size_t kChunk = 16 * 1024;
    constexpr int kChunks = 16;
    for (int i = 0; i < kChunks; ++i) {
        station.InjectRaw(Bytes(kChunk, 'A'));
    }
    const uint64_t dropped = station.Counters().droppedOutputBytes;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(sim.FrameCount(), 3u);

    // What was kept arrives once the manager reads again.
    const size_t kept = kChunk * kChunks - dropped;
    const auto bytes = line.ReadBytes(kept, 5000);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(line.QuietFor(50));
}

TEST(Simulator, IdleLineAfterTheManagerLeftCostsNoCpu) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    DeviceSimulator sim(home.path());
    Station& station = sim.AddStation("COM3");
    ASSERT_TRUE(station.Ok());
    ASSERT_TRUE(sim.Start());
    {
        ManagerLine line;
        ASSERT_TRUE(line.Open(home.path() + "/ports/COM3"));
    }
    ASSERT_TRUE(sim.WaitFor([&] { return station.Counters().portCloses >= 1; }, 1000));
    const int64_t before = ProcessCpuUs();
    EXPECT_FALSE(sim.WaitFor([] { return false; }, 300));
    // A thread spinning on a hung-up line would burn the whole 300 ms.
    EXPECT_LT(ProcessCpuUs() - before, 100'000);
    EXPECT_FALSE(station.Counters().hungUp);
}

}  // namespace
}  // namespace qm::devsim
