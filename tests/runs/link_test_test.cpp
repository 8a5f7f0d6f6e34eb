// Link tests through SDKTestProcess, with the counters read as the panel
// reads them while the test runs.
#include "tests/runs/run_fixture.h"

namespace qm::test {
namespace {

class LinkTest : public RunFixture {
  protected:
    static uint32_t Count(const uint32_t& c) { return service::ReadTestCount(c); }
    // Sequence bytes of the test frames sent to a terminal, in order.
    std::vector<uint8_t> Sequences(uint8_t dcb) const {
        std::vector<uint8_t> out;
        for (const Bytes& f : FromManager("COM3"))
            if (f.size() == 61 && f[1] == dcb)
                out.push_back(f[6]);
        return out;
    }
};

TEST_F(LinkTest, CountsEchoesAndSilenceAndGoesOnNumberingAcrossTests) {
    Start({{"COM3", {3, 5, 8}}});
    Term("COM3", 5).SetSilent(true);
    Term("COM3", 3).DamageEchoes(1);
    std::vector<_TESTSTATUS> st(3);
    st[0].selected = st[1].selected = 1;  // terminal 8 takes no part

    SDKTestProcess(1, 0, st.data());
    ASSERT_TRUE(WaitUntil(
        [&] { return Count(st[0].okCount) >= 3 && Count(st[1].timeoutCount) >= 3; }, 10000));
    const int64_t before = MonotonicMs();
    SDKTestProcess(0, 0, nullptr);
    EXPECT_LT(MonotonicMs() - before, 400) << "the stop waits for one probe at most";

    // The damaged first echo is an error and, as no good echo came, a timeout.
    EXPECT_EQ(st[0].errorCount, 1u);
    EXPECT_EQ(st[0].okCount + st[0].timeoutCount, st[0].sentCount);
    EXPECT_EQ(st[0].timeoutCount, 1u);
    EXPECT_EQ(st[1].okCount, 0u);
    EXPECT_EQ(st[1].timeoutCount, st[1].sentCount);
    EXPECT_EQ(st[2].sentCount, 0u);
    EXPECT_EQ(Term("COM3", 8).Counters().testFrames, 0u);

    // The first frame of the first test carries sequence 1 and checksum 100.
    const auto frames = FromManager("COM3");
    const auto first =
        std::find_if(frames.begin(), frames.end(), [](const Bytes& f) { return f.size() == 61; });
    ASSERT_NE(first, frames.end());
    EXPECT_EQ((*first)[6], 1);
    EXPECT_EQ((*first)[59], 100);
    const std::vector<uint8_t> firstTest = Sequences(3);

    // A second test, counters not cleared, goes on from the number reached.
    const uint32_t sentBefore = st[0].sentCount;
    SDKTestProcess(1, 0, st.data());
    ASSERT_TRUE(WaitUntil([&] { return Count(st[0].sentCount) >= sentBefore + 2; }, 5000));
    SDKTestProcess(0, 0, nullptr);
    const std::vector<uint8_t> both = Sequences(3);
    ASSERT_GT(both.size(), firstTest.size());
    EXPECT_GT(firstTest.back(), 1);
    EXPECT_EQ(both[firstTest.size()], firstTest.back());
    EXPECT_EQ(st[0].okCount + st[0].timeoutCount, st[0].sentCount);
}

TEST_F(LinkTest, BeaconsPauseWhileTheTestRunsAndResumeAfterIt) {
    Start({{"COM3", {3}}, {"COM4", {6}}});
    std::vector<_TESTSTATUS> st(1);
    st[0].selected = 1;
    SDKTestProcess(1, 0, st.data());
    // From the first test frame on, neither station sees a beacon.
    ASSERT_TRUE(WaitUntil([&] { return Count(st[0].okCount) >= 5; }, 5000));
    const size_t mark3 = FromManager("COM3").size(), mark4 = FromManager("COM4").size();
    ASSERT_TRUE(WaitUntil([&] { return Count(st[0].okCount) >= 10; }, 5000));
    EXPECT_FALSE(BeaconSince("COM3", mark3, 3));
    EXPECT_FALSE(BeaconSince("COM4", mark4, 6));
    SDKTestProcess(0, 0, nullptr);
    EXPECT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM4", mark4, 6); }, 2000));
    EXPECT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM3", mark3, 3); }, 2000));
}

}  // namespace
}  // namespace qm::test
