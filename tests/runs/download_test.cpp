// Download runs through SDKUpdateProcess and SDKGetUpdateStatus.
#include "tests/runs/run_fixture.h"

namespace qm::test {
namespace {

class Download : public RunFixture {};

TEST_F(Download, SmokeFileOneToTwoTerminals) {
    WriteMasterData(1, {"A1", "B22", "C333"});
    Start({{"COM3", {4, 7}}});
    _DCBSELPARAM sel = Selection({1}, {4, 7});
    SDKUpdateProcess(1, &sel);
    _UPDATESTATUS st{};
    std::vector<uint32_t> seen;
    ASSERT_TRUE(WaitUntil(
        [&] {
            uint32_t r = SDKGetUpdateStatus(&st);
            if (seen.empty() || seen.back() != r)
                seen.push_back(r);
            return r == 3;
        },
        10000));
    SDKUpdateProcess(0, nullptr);
    for (uint32_t s : seen) std::printf("status %u\n", s);
    EXPECT_EQ(st.dcbStatus[0], 4);
    EXPECT_EQ(st.dcbStatus[1], 4);
    EXPECT_EQ(Term("COM3", 4).DownloadLines().size(), 3u);
    EXPECT_EQ(Term("COM3", 4).Counters().downloadDone, 1u);
}

}  // namespace
}  // namespace qm::test
