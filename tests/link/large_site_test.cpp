// The largest site, 8 stations of 200 terminals, under the usual soft limit
// of 1024 open files.
#include <sys/resource.h>

#include "tests/link/link_fixture.h"

namespace qm::test {
namespace {

class LargeSite : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved_), 0);
    }
    void TearDown() override {
        SDKDeInit();
        setrlimit(RLIMIT_NOFILE, &saved_);
        LinkFixture::TearDown();
    }
    void LimitOpenFiles(rlim_t soft) {
        rlimit lower = saved_;
        lower.rlim_cur = std::min(soft, saved_.rlim_max);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lower), 0);
    }
    rlimit saved_{};
};

TEST_F(LargeSite, EightTimesTwoHundredStartAndBeaconUnderTheUsualLimit) {
    std::vector<uint8_t> dcbs;
    for (int id = 1; id <= QM_MAX_TERMINALS; ++id) dcbs.push_back(static_cast<uint8_t>(id));
    std::vector<_DEVINFO> site;
    for (uint8_t host = 1; host <= 8; ++host) {
        const std::string name = "COM" + std::to_string(host);
        AddPort(name);
        site.push_back(Station(host, name.c_str(), dcbs));
    }
    LimitOpenFiles(1024);
    ASSERT_EQ(Init(site), 1);
    ASSERT_EQ(CurrentLink()->stations.size(), 8u);
    // Every line is polled, and the beacon moves on to the second terminal.
    for (auto& port : ports_)
        EXPECT_TRUE(ReadUntil(port.master, {0x00, 0x02, 0xFD, 0xFF}, 5000)) << port.name;
    SDKDeInit();

    // With no descriptor left the start is refused, and the process lives on.
    const int lowestFree = open("/dev/null", O_RDONLY);
    close(lowestFree);
    LimitOpenFiles(static_cast<rlim_t>(lowestFree));
    EXPECT_EQ(Init(site), 0);
    EXPECT_EQ(CurrentLink(), nullptr);
}

}  // namespace
}  // namespace qm::test
