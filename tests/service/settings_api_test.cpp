// The stored values of the service: venue title, link parameters, version.
#include <gtest/gtest.h>

#include <string>

#include "link/link_params.h"
#include "service/qmsdk.h"

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
};

TEST_F(LinkParamsTest, ArgumentsGoToTheirOwnParameters) {
    SDKSetParam(3, 2000, 150);
    EXPECT_EQ(qm::Params().retryTimes.load(), 3u);
    EXPECT_EQ(qm::Params().beaconTimeout.load(), 2000u);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 150u);
}

TEST(Version, IsTheServiceVersion) {
    EXPECT_STREQ(SDKGetVersion(), "1.07");
}

}  // namespace
}  // namespace qm::test
