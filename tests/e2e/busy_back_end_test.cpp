// The manager against a back-end whose window is busy (its socket not read
// for a while) or gone (its socket removed).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "platform/runtime_dir.h"
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

class BusyBackEnd : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        // A terminal left without its reply holds the beacon this long.
        WriteFile(*home_ / "QM.ini", "[CONFIG]\r\nDebugLevel=1\r\nBeaconTimeout=100\r\n");
    }
    void TearDown() override {
        if (stalled_ >= 0)
            close(stalled_);
        EndToEnd::TearDown();
    }
    std::string BackEndPath() const {
        int err = 0;
        return RuntimeDir(&err) + "/hwnd-" + std::to_string(kWindow);
    }
    // The back-end's window stops reading: its socket stays, nobody takes
    // from it until ReadNotices.
    void Stall() {
        window_.reset();
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        BackEndPath().copy(addr.sun_path, sizeof addr.sun_path - 1);
        stalled_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(bind(stalled_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    // Each terminal of the site asks `each` times; waits until all requests
    // have left the terminals. Returns how many were sent per host id.
    std::map<int64_t, int> AskAll(int each) {
        std::map<int64_t, int> sent;
        const std::pair<const char*, uint8_t> terminals[] = {
            {"COM3", 7}, {"COM3", 8}, {"COM4", 12}};
        for (int i = 0; i < each; ++i)
            for (auto [port, id] : terminals) {
                EXPECT_TRUE(Term(port, id).QueueRequest(13, Text("0012")));
                ++sent[std::string(port) == "COM3" ? 1 : 2];
            }
        EXPECT_TRUE(sim_->WaitFor(
            [&] {
                for (auto [port, id] : terminals)
                    if (Term(port, id).PendingItems() > 0)
                        return false;
                return true;
            },
            30000));
        return sent;
    }
    // The notices the stalled window gets, by host id, until `count` came or
    // none came for a while.
    std::map<int64_t, int> ReadNotices(int count) {
        std::map<int64_t, int> got;
        const int64_t end = MonotonicMs() + 10000;
        for (int n = 0; n < count; ++n) {
            pollfd p{stalled_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(0, end - MonotonicMs()))) <= 0)
                break;
            uint8_t wire[kWindowWireSize];
            WindowMessage m;
            if (recv(stalled_, wire, sizeof wire, 0) != static_cast<ssize_t>(sizeof wire) ||
                !DecodeWindowMessage(wire, sizeof wire, &m))
                break;
            if (m.message == WM_POS_NOTICE)
                ++got[m.lParam];
        }
        return got;
    }

    int stalled_ = -1;
};

// The terminals ask for several seconds while the back-end does not read:
// more than a second after its socket is full, long after its queue holds
// no more.
TEST_F(BusyBackEnd, EveryNoticeArrivesOnceTheBackEndReadsAgain) {
    StartManager();
    Stall();
    const auto sent = AskAll(12);
    EXPECT_EQ(ReadNotices(36), sent);
    EXPECT_EQ(CountLogLines("PostMessage Error"), 0);
}

TEST_F(BusyBackEnd, AStopWhileTheBackEndIsStalledEndsTheManagerPromptly) {
    ChildProcess& manager = StartManager();
    Stall();
    AskAll(12);
    const int64_t start = MonotonicMs();
    ASSERT_TRUE(manager.Signal(SIGTERM));
    // Generous: the stop itself is acted on within 200 ms, then the link
    // stops (its grace for exchanges under way included).
    ASSERT_TRUE(manager.Wait(5000)) << "the stop waited for the back-end";
    const int64_t took = MonotonicMs() - start;
    std::printf("manager ended %lld ms after SIGTERM\n", static_cast<long long>(took));
    EXPECT_EQ(manager.ExitCode(), 0);
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    // The notices that were still waiting are told of, in one line.
    EXPECT_EQ(CountLogLines(" stopping: "), 1);
}

class GoneBackEnd : public EndToEnd {
  protected:
    ScopedEnv bound_{"QM_BACKEND_GONE_SECONDS", "2"};
};

TEST_F(GoneBackEnd, TheManagerClosesOnceTheBackEndHasBeenGoneForTheBound) {
    ChildProcess& manager = StartManager();
    window_.reset();  // the back-end ends: its socket goes
    const int64_t start = MonotonicMs();
    ASSERT_TRUE(manager.Wait(15000)) << "an orphaned manager must close";
    const int64_t took = MonotonicMs() - start;
    std::printf("manager closed %lld ms after its back-end went\n", static_cast<long long>(took));
    EXPECT_GE(took, 2000);
    EXPECT_EQ(manager.ExitCode(), 0);
    EXPECT_EQ(
        CountLogLines("Back-end window 4242 gone: the manager closes unless it is back within 2 s"),
        1);
    EXPECT_EQ(CountLogLines("Back-end window 4242 gone for "), 1);
    EXPECT_EQ(CountLogLines(" s: the manager closes"), 1);
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    EXPECT_EQ(CountLogLines("Closed by"), 0);
}

TEST_F(GoneBackEnd, ABackEndBackWithinTheBoundKeepsTheManager) {
    ChildProcess& manager = StartManager();
    window_.reset();
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("Back-end window 4242 gone: ") == 1; }, 5000));
    int err = 0;
    window_ = MessageWindow::Create(kWindow, &err);
    ASSERT_TRUE(window_);
    ASSERT_TRUE(
        WaitUntil([] { return CountLogLines("Back-end window 4242 back after ") == 1; }, 5000));
    // Past the bound of the first absence, it still serves.
    EXPECT_FALSE(manager.Wait(3000));
    Term("COM3", 7).QueueRequest(13, Text("0012"));
    EXPECT_EQ(NextNotice(5000), 1);
    EXPECT_EQ(CountLogLines("gone for "), 0);
}

}  // namespace
}  // namespace qm::test
