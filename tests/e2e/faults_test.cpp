// The manager against a back-end that misbehaves: replies that never come,
// come late or come half written, a TXT folder that is gone or cannot take
// the request file, and a back-end window that died.
#include <sys/socket.h>
#include <sys/un.h>

#include <functional>

#include "platform/runtime_dir.h"
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

class BackEndFaults : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        // A terminal left without its reply holds the beacon this long per round.
        WriteFile(*home_ / "QM.ini", "[CONFIG]\r\nDebugLevel=4\r\nBeaconTimeout=500\r\n");
    }
    // Terminal 7 asks; true when the back-end is told.
    bool Ask() {
        Term("COM3", 7).QueueRequest(13, Text("0012"));
        return NextNotice(5000) == 1;
    }
};

TEST_F(BackEndFaults, RepliesThatNeverComeComeLateOrComeHalfWritten) {
    StartManager();
    devsim::Terminal &t7 = Term("COM3", 7), &t8 = Term("COM3", 8);
    // `first` is written at once; `rest` is added after the beacon has given
    // up waiting for the reply and moved on; then the back-end posts.
    const struct {
        const char* name;
        const char *first, *rest;
        const char* sent;  // what terminal 7 gets; null: nothing
    } cases[] = {
        {"never answered", nullptr, nullptr, nullptr},
        {"answered late", nullptr, "KT   007\r\nLATE\r\n", "LATE"},
        {"written in two steps", "KT   007\r\n", "IN TWO\r\n", "IN TWO"},
        {"empty file", "", nullptr, nullptr},
        {"header cut short", "KT   0", nullptr, nullptr},
        {"header without its line end", "KT   007", nullptr, ""},
        {"body cut mid-line", "KT   007\r\nOK TAB", nullptr, "OK TAB"},
    };
    int refused = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t replies = t7.Replies().size();
        ASSERT_TRUE(Ask()) << "the request after the previous fault";
        if (!c.first && !c.rest)
            continue;
        std::filesystem::remove(Txt("R1.txt"));
        if (c.first)
            WriteBytes(Txt("R1.txt"), c.first);
        if (c.rest) {
            const uint64_t beacons = t8.Counters().beacons;
            ASSERT_TRUE(sim_->WaitFor([&] { return t8.Counters().beacons > beacons; }, 5000));
            WriteBytes(Txt("R1.txt"), std::string(c.first ? c.first : "") + c.rest);
        }
        ASSERT_TRUE(Notify(1));
        if (!c.sent) {
            ++refused;
            ASSERT_TRUE(WaitUntil([&] { return CountLogLines("Send Error") == refused; }, 5000));
            EXPECT_EQ(CountLogLines("(HostID 001  DCBID 000)SDKGetRxFile Error"), refused);
            continue;
        }
        ASSERT_TRUE(sim_->WaitFor([&] { return t7.Replies().size() > replies; }, 5000));
        std::string want = c.sent;
        want.resize(20, ' ');
        const Bytes got = t7.Replies().back().data;
        EXPECT_EQ(std::string(got.begin(), got.end()), want);
    }
    EXPECT_EQ(t7.Replies().size(), 4u);
}

TEST_F(BackEndFaults, ARequestFileThatCannotBeWrittenIsLoggedAndServiceGoesOn) {
    StartManager();
    const std::string txt = *home_ / "TXT", away = *home_ / "TXT.away", t1 = Txt("T1.txt");
    // Ways that work for root too, where a folder's mode stops nobody.
    const struct {
        const char* name;
        std::function<void()> spoil, mend;
    } cases[] = {
        {"TXT gone", [&] { std::filesystem::rename(txt, away); },
         [&] { std::filesystem::rename(away, txt); }},
        {"request path taken by a folder", [&] { std::filesystem::create_directory(t1); },
         [&] { std::filesystem::remove(t1); }},
    };
    int failed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(t1);
        c.spoil();
        Term("COM3", 7).QueueRequest(13, Text("0012"));
        ++failed;
        ASSERT_TRUE(WaitUntil(
            [&] {
                return CountLogLines("(HostID 001  DCBID 007)SDKSaveTxFile Write Error") == failed;
            },
            5000));
        EXPECT_FALSE(NextNotice(300)) << "no notice for a request file not written";
        c.mend();
        ASSERT_TRUE(Ask());
        EXPECT_EQ(ReadFile(t1).substr(0, 10), "KT   007\r\n");
    }
}

TEST_F(BackEndFaults, WithoutTxtTheManagerStartsWithoutStationsAndSaysSo) {
    std::filesystem::remove_all(*home_ / "TXT");
    StartManager();
    ASSERT_NE(managerWindow_, 0u);
    EXPECT_TRUE(WaitUntil([] { return CountLogLines("TXT Folder Missing") == 1; }, 5000));
    // Still serving the back-end's notices.
    ASSERT_TRUE(Notify(1));
    EXPECT_TRUE(WaitUntil([] { return CountLogLines("Send Error") == 1; }, 5000));
    EXPECT_EQ(sim_->FrameCount(), 0u) << "no station is started";
}

TEST_F(BackEndFaults, NoticesToADeadBackEndWindowFailCleanlyUntilANewOneBinds) {
    ChildProcess& manager = StartManager();
    ASSERT_TRUE(Ask());
    // The back-end dies, its socket file left behind.
    window_.reset();
    int err = 0;
    const std::string path = RuntimeDir(&err) + "/hwnd-" + std::to_string(kWindow);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);

    Term("COM3", 7).QueueRequest(13, Text("0013"));
    ASSERT_TRUE(WaitUntil(
        [] { return CountLogLines("(HostID 001  DCBID 007)PostMessage Error") == 1; }, 5000));
    EXPECT_FALSE(manager.Exited());
    window_ = MessageWindow::Create(kWindow, &err);
    ASSERT_TRUE(window_);
    EXPECT_TRUE(Ask()) << "a new back-end window under the same name hears again";
}

}  // namespace
}  // namespace qm::test
