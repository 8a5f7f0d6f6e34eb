// The manager as a process: command line, single instance, close.
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

TEST_F(EndToEnd, WithoutAValidHandleTheManagerEndsAtOnceSilently) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"abc"}, {"0"}, {" x12"}}) {
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

TEST_F(EndToEnd, HelpAndVersionPrintAndEnd) {
    for (const char* arg : {"--help", "--version"}) {
        ChildProcess m;
        ASSERT_TRUE(m.Start(ManagerPath(), {arg}, home_->path()));
        ASSERT_TRUE(m.Wait(3000));
        EXPECT_EQ(m.ExitCode(), 0);
    }
}

TEST_F(EndToEnd, TheNamedEventClosesTheManager) {
    ChildProcess& m = StartManager();
    ASSERT_TRUE(sim_->WaitFor([&] { return sim_->FrameCount() > 4; }, 5000));
    ChildProcess post;
    ASSERT_TRUE(post.Start(std::string(QM_BINARY_DIR) + "/tools/qm-post",
                           {"--set-event", "__QM_MUTEXT"}, home_->path()));
    ASSERT_TRUE(post.Wait(3000));
    ASSERT_TRUE(m.Wait(5000)) << "the manager must close on the named event";
    EXPECT_EQ(m.ExitCode(), 0);
    EXPECT_EQ(CountLogLines("(HostID 255  DCBID 255)OnClose"), 1);
}

TEST_F(EndToEnd, ASecondManagerClosesTheFirstAndTakesThePorts) {
    ChildProcess& first = StartManager();
    ASSERT_TRUE(sim_->WaitFor([&] { return sim_->FrameCount() > 4; }, 5000));
    ChildProcess& second = StartManager();
    ASSERT_TRUE(first.Wait(5000)) << "the first manager must close";
    EXPECT_EQ(CountLogLines("OnClose"), 1);
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

}  // namespace
}  // namespace qm::test
