// The stored values of the service: venue title, link parameters, version.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/link_params.h"
#include "service/qmsdk.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

std::string TitleAfter(std::string text, uint32_t length) {
    SDKSetHotelTitle(reinterpret_cast<uint8_t*>(text.data()), length);
    const auto t = qm::VenueTitle();
    return std::string(t.begin(), t.end());
}

// Centred in 20 bytes, an odd blank on the right; only the given bytes
// are taken, NULs included; longer titles give their first 20 bytes.
TEST(VenueTitle, CentredInTwentyBytes) {
    const std::string nul("A\0B", 3);
    const struct {
        std::string text;
        uint32_t length;
        std::string title;
    } cases[] = {
        {"ABCDEF", 6, std::string(7, ' ') + "ABCDEF" + std::string(7, ' ')},
        {"ABCDEFG", 7, std::string(6, ' ') + "ABCDEFG" + std::string(7, ' ')},
        {"A", 1, std::string(9, ' ') + "A" + std::string(10, ' ')},
        {"ABCDEFGHIJKLMNOPQRS", 19, "ABCDEFGHIJKLMNOPQRS "},
        {"ABCDEFGH", 3, std::string(8, ' ') + "ABC" + std::string(9, ' ')},
        {nul, 3, std::string(8, ' ') + nul + std::string(9, ' ')},
        {"ABCDEFGHIJKLMNOPQRSTUVWXY", 25, "ABCDEFGHIJKLMNOPQRST"},
        {"ABCDEFGHIJKLMNOPQRST", 20, "ABCDEFGHIJKLMNOPQRST"},
        {"ignored", 0, std::string(20, ' ')},
    };
    for (const auto& c : cases) EXPECT_EQ(TitleAfter(c.text, c.length), c.title) << c.text;
}

class LinkParamsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        SDKSetParam(qm::kDefaultRetryTimes, qm::kDefaultBeaconTimeout, qm::kDefaultBeaconInterval);
    }
    // The log of the calls goes to a folder of the test's own.
    TempDir dir_;
    ScopedCwd cwd_{dir_.path()};
};

// The same ranges as QM.ini's, each bound included; a value outside takes
// the nearest bound and is logged naming the call, the key and both values.
TEST_F(LinkParamsTest, ArgumentsGoToTheirOwnParametersWithinTheirRanges) {
    const struct {
        uint32_t retry, timeout, interval;  // given
        uint32_t retryUsed, timeoutUsed, intervalUsed;
        std::vector<std::string> notes;
    } cases[] = {
        {3, 2000, 150, 3, 2000, 150, {}},
        {0, 100, 20, 0, 100, 20, {}},
        {20, 30000, 2000, 20, 30000, 2000, {}},
        {0,
         99,
         0,
         0,
         100,
         20,
         {"SDKSetParam BeaconTimeout=99 out of range 100..30000: 100 used",
          "SDKSetParam BeaconInterVal=0 out of range 20..2000: 20 used"}},
        {21,
         30001,
         2001,
         20,
         30000,
         2000,
         {"SDKSetParam RetryTimes=21 out of range 0..20: 20 used",
          "SDKSetParam BeaconTimeout=30001 out of range 100..30000: 30000 used",
          "SDKSetParam BeaconInterVal=2001 out of range 20..2000: 2000 used"}},
        {4294967295u,
         150,
         150,
         20,
         150,
         150,
         {"SDKSetParam RetryTimes=4294967295 out of range 0..20: 20 used"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.retry) + " " + std::to_string(c.timeout) + " " +
                     std::to_string(c.interval));
        std::remove("QMLog.txt");
        SDKSetParam(c.retry, c.timeout, c.interval);
        EXPECT_EQ(qm::Params().retryTimes.load(), c.retryUsed);
        EXPECT_EQ(qm::Params().beaconTimeout.load(), c.timeoutUsed);
        EXPECT_EQ(qm::Params().beaconInterval.load(), c.intervalUsed);
        const std::vector<std::string> lines = LogLines();
        ASSERT_EQ(lines.size(), c.notes.size());
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(lines[i].find("(HostID 255  DCBID 255)" + c.notes[i] + "\r"),
                      std::string::npos)
                << lines[i];
    }
}

TEST(Version, IsTheServiceVersion) {
    EXPECT_STREQ(SDKGetVersion(), "1.07");
}

}  // namespace
}  // namespace qm::test
