// Start and stop of the link over real pseudo-terminals.
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>

#include "link/link_state.h"
#include "platform/app_log.h"
#include "site/station_lookup.h"
#include "tests/link/link_fixture.h"
#include "tools/devsim/frame.h"

namespace qm::test {
namespace {

std::vector<std::string> g_messages;
void CaptureMessage(const char* text) {
    g_messages.push_back(text);
}

// Whether someone holds the port: the link opens it exclusively and locks it.
bool PortHeld(const std::string& slavePath) {
    int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return true;  // TIOCEXCL refuses a second open
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

class LinkLifecycle : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        g_messages.clear();
        SetMessageBoxFunction(CaptureMessage);
        SetDebugLevel(1);
    }
    void TearDown() override {
        LinkFixture::TearDown();
        SetMessageBoxFunction(nullptr);
    }
};

TEST_F(LinkLifecycle, OpensUsableStationsAndSkipsTheRest) {
    TestPort& com3 = AddPort("COM3");
    TestPort& com4 = AddPort("COM4");
    TestPort& com5 = AddPort("COM5");
    std::vector<_DEVINFO> st = {Station(1, "COM3", {5, 6}), Station(9, "COM4", {7}),
                                Station(0, "COM5", {})};
    ASSERT_EQ(Init(st), 1);
    Link* link = CurrentLink();
    ASSERT_NE(link, nullptr);
    ASSERT_EQ(link->stations.size(), 1u);
    EXPECT_EQ(link->stations[0]->hostId, 1);
    ASSERT_EQ(link->stations[0]->terminals.size(), 2u);
    EXPECT_EQ(link->stations[0]->terminals[1]->dcbId, 6);

    EXPECT_TRUE(PortHeld(com3.slavePath));
    EXPECT_FALSE(PortHeld(com4.slavePath)) << "host id 9 must be skipped";
    EXPECT_FALSE(PortHeld(com5.slavePath)) << "a station without terminals must be skipped";
    EXPECT_TRUE(g_messages.empty());

    // Every terminal starts idle, so the first round does not wait on it.
    for (auto& term : link->stations[0]->terminals) EXPECT_TRUE(term->idle.IsSet());

    // The threads run: the beacon polls the first terminal.
    EXPECT_TRUE(ReadUntil(com3.master, {0x00, 0x05, 0xFA, 0xFF}, 2000));
}

TEST_F(LinkLifecycle, PortThatFailsIsReportedAndTheNextTakesPositionZero) {
    TestPort& com4 = AddPort("COM4");
    std::vector<_DEVINFO> st = {Station(1, "BAD1", {5}), Station(2, "COM4", {6})};
    ASSERT_EQ(Init(st), 1);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "打开BAD1失败-2");
    Link* link = CurrentLink();
    ASSERT_EQ(link->stations.size(), 1u);
    EXPECT_EQ(link->stations[0]->hostId, 2);
    EXPECT_EQ(FindStation(*link, 2), 0);
    EXPECT_TRUE(PortHeld(com4.slavePath));

    // The application's positions map onto the service's by host id: the
    // failed station runs nowhere, the second one is the service's first.
    SiteContext site;
    site.stationCount = 2;
    std::copy(st.begin(), st.end(), site.stations.begin());
    EXPECT_EQ(ServiceStationIndex(site, 1), 0);
    EXPECT_EQ(ServiceStationIndex(site, 0), 255);
    EXPECT_EQ(ServiceStationIndex(site, 2), 255);
}

// Every port fails: SDKInit says 0 and runs nothing, each failure shows its
// message and the log names the device tried and why it failed.
TEST_F(LinkLifecycle, NoPortThatOpensStartsNothingAndTheLogSaysWhy) {
    const std::string home = home_->path();
    // An adapter that is unplugged, a name that leads nowhere, a port that
    // another program holds.
    std::filesystem::create_symlink(home + "/no-such-adapter", home + "/ports/COM3");
    TestPort& com4 = AddPort("COM4");
    const int holder = open(com4.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    std::vector<_DEVINFO> st = {Station(1, "COM3", {5}), Station(2, "BAD1", {6}),
                                Station(3, "COM4", {7})};
    EXPECT_EQ(Init(st), 0);
    close(holder);
    EXPECT_EQ(CurrentLink(), nullptr);
    EXPECT_EQ(g_messages,
              (std::vector<std::string>{"打开COM3失败-2", "打开BAD1失败-2", "打开COM4失败-16"}));
    const std::string byId = " to the device, e.g. its udev link below /dev/serial/by-id";
    EXPECT_EQ(CountLogLines("(HostID 001  DCBID 255)Cannot open COM3 at " + home +
                            "/ports/COM3: No such file or directory: link " + home + "/ports/COM3" +
                            byId),
              1);
    EXPECT_EQ(CountLogLines("(HostID 002  DCBID 255)Cannot open BAD1 at BAD1: No such file or "
                            "directory: link " +
                            home + "/ports/BAD1" + byId),
              1);
    EXPECT_EQ(CountLogLines("(HostID 003  DCBID 255)Cannot open COM4 at " + home +
                            "/ports/COM4: Device or resource busy: another program holds the port"),
              1);
}

TEST_F(LinkLifecycle, RefusesBadArgumentsAndASecondStart) {
    AddPort("COM3");
    std::vector<_DEVINFO> nine(9, Station(1, "COM3", {5}));
    EXPECT_EQ(SDKInit(reinterpret_cast<void*>(uintptr_t{kWindow}), nine.data(), 9), 0);
    EXPECT_EQ(SDKInit(nullptr, nine.data(), 1), 0);
    EXPECT_EQ(SDKInit(reinterpret_cast<void*>(uintptr_t{kWindow}), nullptr, 1), 0);
    EXPECT_EQ(SDKInit(reinterpret_cast<void*>(uintptr_t{kWindow}), nine.data(), 0), 0);
    EXPECT_EQ(CurrentLink(), nullptr);
    EXPECT_FALSE(PortHeld(ports_[0].slavePath));

    // No usable entry at all: 0, and nothing left running.
    std::vector<_DEVINFO> none = {Station(9, "COM3", {5})};
    EXPECT_EQ(Init(none), 0);
    EXPECT_EQ(CurrentLink(), nullptr);

    // A second start is refused and changes nothing.
    AddPort("COM4");
    std::vector<_DEVINFO> first = {Station(1, "COM3", {5})};
    ASSERT_EQ(Init(first), 1);
    Link* link = CurrentLink();
    std::vector<_DEVINFO> second = {Station(2, "COM4", {6})};
    EXPECT_EQ(Init(second), 0);
    EXPECT_EQ(CurrentLink(), link);
    EXPECT_EQ(link->stations.size(), 1u);
    EXPECT_FALSE(PortHeld(ports_[1].slavePath));
    EXPECT_EQ(CountLogLines("SDKInit: link already started"), 1);
}

TEST_F(LinkLifecycle, DeInitStopsEveryThreadAndReleasesThePorts) {
    TestPort& com3 = AddPort("COM3");
    TestPort& com4 = AddPort("COM4");
    std::vector<_DEVINFO> st = {Station(1, "COM3", {5, 6, 7}), Station(2, "COM4", {8})};
    ASSERT_EQ(Init(st), 1);
    ASSERT_TRUE(ReadUntil(com4.master, {0x00, 0x08, 0xF7, 0xFF}, 2000));
    SDKDeInit();
    EXPECT_EQ(CurrentLink(), nullptr);
    EXPECT_FALSE(PortHeld(com3.slavePath));
    EXPECT_FALSE(PortHeld(com4.slavePath));
    // Nothing is written any more once stopped.
    tcflush(com3.master, TCIFLUSH);
    std::vector<uint8_t> seen;
    EXPECT_FALSE(ReadUntil(com3.master, {0xFF}, 300, &seen));
    // A second stop is harmless, and the link can start again.
    SDKDeInit();
    EXPECT_EQ(Init(st), 1);
}

TEST_F(LinkLifecycle, AVanishedDeviceIsLoggedOnceAndDoesNotSpin) {
    TestPort& com3 = AddPort("COM3");
    std::vector<_DEVINFO> st = {Station(1, "COM3", {5})};
    ASSERT_EQ(Init(st), 1);
    ASSERT_TRUE(ReadUntil(com3.master, {0x00, 0x05, 0xFA, 0xFF}, 2000));
    // Pull the plug: the far end of the line goes away for good.
    close(com3.master);
    com3.master = -1;
    for (int& s : slaves_) close(s);
    slaves_.clear();
    // Its node goes too, so the link waiting for it never takes another
    // pseudo-terminal that comes to bear the same number.
    std::filesystem::remove(*home_ / "ports/COM3");
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("ReadFile Error 5") == 1; }, 2000));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // measuring, not waiting
    getrusage(RUSAGE_SELF, &after);
    const auto cpuUs = [](const rusage& r) {
        return r.ru_utime.tv_sec * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_sec * 1000000L +
               r.ru_stime.tv_usec;
    };
    // A reader spinning on the hung-up port would burn the whole half second.
    EXPECT_LT(cpuUs(after) - cpuUs(before), 150000);
    EXPECT_EQ(CountLogLines("ReadFile Error"), 1);
    SDKDeInit();
    EXPECT_EQ(CurrentLink(), nullptr);
}

// The reopen after a hang-up takes the path of the first open, never the
// name afresh: without its ports/ entry COM1 would name /dev/ttyS0, whatever
// device that is. A missing entry is awaited like an unplugged adapter.
TEST_F(LinkLifecycle, AReopenTakesThePathOfTheFirstOpenAndAwaitsItsReturn) {
    AddPort("COM1");
    std::vector<_DEVINFO> st = {Station(1, "COM1", {5})};
    ASSERT_EQ(Init(st), 1);
    const std::vector<uint8_t> beacon5 = {0x00, 0x05, 0xFA, 0xFF};
    ASSERT_TRUE(ReadUntil(ports_[0].master, beacon5, 2000));
    StationLink& station = *CurrentLink()->stations[0];
    close(ports_[0].master);
    ports_[0].master = -1;
    std::filesystem::remove(*home_ / "ports/COM1");
    ASSERT_TRUE(WaitUntil([&] { return !station.portUp; }, 2000));
    // Four reopen attempts find nothing and take nothing else.
    EXPECT_FALSE(WaitUntil([&] { return station.portUp.load(); }, 1000));
    EXPECT_EQ(CountLogLines("Port reopened"), 0);
    TestPort& back = AddPort("COM1");
    ASSERT_TRUE(ReadUntil(back.master, beacon5, 2000));
    EXPECT_EQ(CountLogLines("Port reopened"), 1);
}

TEST_F(LinkLifecycle, AStationWhoseAdapterComesBackResumesAndTheOthersRunOn) {
    AddPort("COM3");
    TestPort& com4 = AddPort("COM4");
    std::vector<_DEVINFO> st = {Station(1, "COM3", {5}), Station(2, "COM4", {8})};
    ASSERT_EQ(Init(st), 1);
    const std::vector<uint8_t> beacon5 = {0x00, 0x05, 0xFA, 0xFF},
                               beacon8 = {0x00, 0x08, 0xF7, 0xFF};
    ASSERT_TRUE(ReadUntil(ports_[0].master, beacon5, 2000));
    // Unplugged: the line hangs up and its device node goes.
    close(ports_[0].master);
    ports_[0].master = -1;
    std::filesystem::remove(*home_ / "ports/COM3");
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("ReadFile Error 5") == 1; }, 2000));
    EXPECT_TRUE(ReadUntil(com4.master, beacon8, 1000)) << "the other station must run on";
    // Plugged in again: another device under the same name.
    TestPort& back = AddPort("COM3");
    ASSERT_TRUE(ReadUntil(back.master, beacon5, 1000));
    EXPECT_EQ(CountLogLines("Port reopened"), 1);
    EXPECT_EQ(CountLogLines("ReadFile Error"), 1);
    const std::vector<uint8_t> frame = devsim::DataFrame(5, 0x12, 1, 1, Text("0012"));
    ASSERT_EQ(write(back.master, frame.data(), frame.size()), ssize_t(frame.size()));
    WindowMessage m;
    ASSERT_TRUE(window_->GetMessage(&m, 2000));
    ASSERT_EQ(m.message, uint32_t{WM_REQUEST_RECEIVED});
    const auto* record = reinterpret_cast<const _REQUESTRECORD*>(m.wParam);
    EXPECT_EQ(record->hostId, 1);
    EXPECT_EQ(record->dcbId, 5);
    EXPECT_TRUE(ReadUntil(com4.master, beacon8, 1000));
}

}  // namespace
}  // namespace qm::test
