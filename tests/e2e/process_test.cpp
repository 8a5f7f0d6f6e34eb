// The manager as a process: command line, single instance, close.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

// Opens a FIFO for writing, which returns once a reader has opened it; -1
// when none came within timeoutMs.
int OpenFifoForWriting(const std::string& path, uint32_t timeoutMs) {
    std::atomic<int> fd{-1};
    Event opened(Event::Mode::kManualReset, false);
    std::thread opener([&] {
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        opened.Set();
    });
    const bool inTime = opened.Wait(timeoutMs);
    // Too late: play the reader, so that the opener returns.
    const int reader = inTime ? -1 : open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    opener.join();
    if (inTime)
        return fd;
    close(reader);
    close(fd);
    return -1;
}

TEST_F(EndToEnd, WithoutAValidHandleTheManagerEndsAtOnceSilently) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, {"abc"}, {"0"}, {" x12"}, {"--help"}, {"--version"}}) {
        ChildProcess m;
        ASSERT_TRUE(m.Start(ManagerPath(), args, home_->path()));
        ASSERT_TRUE(m.Wait(3000));
        EXPECT_EQ(m.ExitCode(), 0);
    }
    EXPECT_FALSE(NextNotice(200));
    EXPECT_FALSE(Exists("QMLog.txt"));
    EXPECT_EQ(sim_->FindStation("COM3")->Counters().portOpens, 0u);
    EXPECT_EQ(sim_->FindStation("COM4")->Counters().portOpens, 0u);
}

// The station file is a FIFO, so start-up waits in it for the test: the set
// falls between the binding of the event (before start-up) and its end.
TEST_F(EndToEnd, ACloseAskedForDuringStartUpClosesTheManagerOnceStarted) {
    const std::string stations = Txt("基站.TXT");
    ASSERT_EQ(unlink(stations.c_str()), 0);
    ASSERT_EQ(mkfifo(stations.c_str(), 0600), 0);
    ChildProcess m;
    ASSERT_TRUE(m.Start(ManagerPath(), {std::to_string(kWindow)}, home_->path()));
    const int fifo = OpenFifoForWriting(stations, 10000);
    ASSERT_GE(fifo, 0) << "the manager never read its station file";
    EXPECT_TRUE(SetNamedEvent("__QM_MUTEXT"));
    const std::string lines = "1 COM3\r\n2 COM4\r\n";
    EXPECT_EQ(write(fifo, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fifo);
    EXPECT_TRUE(NextNotice(10000)) << "start-up did not end";
    ASSERT_TRUE(m.Wait(5000)) << "the close asked for during start-up was lost";
    EXPECT_EQ(m.ExitCode(), 0);
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    // The test itself set the event.
    EXPECT_EQ(CountLogLines("Closed by the close event of process " + std::to_string(getpid()) +
                            " (" + ProcessName(ProcessId()) + ")"),
              1);
}

// Every write to standard output and error fails (EPIPE): the site summary,
// and the message box of a port that cannot be opened.
TEST_F(EndToEnd, AClosedOutputPipeNeverEndsTheManager) {
    WriteFile(Txt("基站.TXT"), "1 COM3\r\n2 NONE\r\n");
    ChildProcess m;
    ASSERT_TRUE(m.Start(ManagerPath(), {std::to_string(kWindow)}, home_->path(),
                        ChildProcess::Capture::kClosedPipe));
    const auto window = NextNotice(10000);
    ASSERT_TRUE(window) << "the manager died at start, status " << m.WaitExit(0);
    ASSERT_TRUE(SetNamedEvent("__QM_MUTEXT"));
    ASSERT_TRUE(m.Wait(5000));
    EXPECT_EQ(m.ExitCode(), 0);
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    for (const std::string& name :
         {std::string("event-__QM_MUTEXT"), "hwnd-" + std::to_string(*window)})
        EXPECT_FALSE(PathExists(home_->base() + "/run/" + name)) << name;
}

TEST_F(EndToEnd, ASecondManagerClosesTheFirstAndTakesThePorts) {
    ChildProcess& first = StartManager();
    ASSERT_TRUE(sim_->WaitFor([&] { return sim_->FrameCount() > 4; }, 5000));
    ChildProcess& second = StartManager();
    ASSERT_TRUE(first.Wait(5000)) << "the first manager must close";
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    EXPECT_EQ(CountLogLines("Closed by the close event of process " + std::to_string(second.Pid()) +
                            " (qm)"),
              1);
    EXPECT_FALSE(second.Exited());
    // The second one polls the terminals on both lines now.
    const size_t mark = sim_->FrameCount();
    EXPECT_TRUE(sim_->WaitFor(
        [&] {
            bool com3 = false, com4 = false;
            auto frames = sim_->Frames();
            for (size_t i = mark; i < frames.size(); ++i) {
                if (frames[i].direction != devsim::Direction::kFromManager)
                    continue;
                com3 |= frames[i].station == "COM3";
                com4 |= frames[i].station == "COM4";
            }
            return com3 && com4;
        },
        5000));
    EXPECT_EQ(CountLogLines("打开"), 0);
    second.Signal(SIGTERM);
    ASSERT_TRUE(second.Wait(5000));
    EXPECT_EQ(second.ExitCode(), 0);
}

TEST_F(EndToEnd, TheWindowsOwnCloseIsLoggedAsOnCloseAlone) {
    ChildProcess& m = StartManager();
    constexpr uint32_t kWmClose = 0x0010;
    ASSERT_TRUE(PostMessage(managerWindow_, kWmClose, 0, 0));
    ASSERT_TRUE(m.Wait(5000));
    EXPECT_EQ(m.ExitCode(), 0);
    EXPECT_EQ(CountLogLines("OnClose"), 1);
    EXPECT_EQ(CountLogLines("Closed by"), 0);
}

}  // namespace
}  // namespace qm::test
