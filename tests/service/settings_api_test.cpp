// The stored values of the service: venue title, link parameters, version.
#include <gtest/gtest.h>

#include <string>

#include "link/link_params.h"
#include "service/qmsdk.h"

namespace {

std::string TitleAfter(std::string text, uint32_t length) {
    SDKSetHotelTitle(reinterpret_cast<uint8_t*>(text.data()), length);
    const auto t = qm::VenueTitle();
    return std::string(t.begin(), t.end());
}

TEST(VenueTitle, ShortTitleStandsCentredExtraBlankOnTheRight) {
    EXPECT_EQ(TitleAfter("ABCDEF", 6), std::string(7, ' ') + "ABCDEF" + std::string(7, ' '));
    EXPECT_EQ(TitleAfter("ABCDEFG", 7), std::string(6, ' ') + "ABCDEFG" + std::string(7, ' '));
    EXPECT_EQ(TitleAfter("A", 1), std::string(9, ' ') + "A" + std::string(10, ' '));
    EXPECT_EQ(TitleAfter("ABCDEFGHIJKLMNOPQRS", 19), "ABCDEFGHIJKLMNOPQRS ");
}

TEST(VenueTitle, LengthCountsNotTheText) {
    // Only the given bytes are taken, NULs included.
    EXPECT_EQ(TitleAfter("ABCDEFGH", 3), std::string(8, ' ') + "ABC" + std::string(9, ' '));
    EXPECT_EQ(TitleAfter(std::string("A\0B", 3), 3),
              std::string(8, ' ') + std::string("A\0B", 3) + std::string(9, ' '));
}

TEST(VenueTitle, LongTitleGivesTheFirst20Bytes) {
    EXPECT_EQ(TitleAfter("ABCDEFGHIJKLMNOPQRSTUVWXY", 25), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(TitleAfter("ABCDEFGHIJKLMNOPQRST", 20), "ABCDEFGHIJKLMNOPQRST");
}

TEST(VenueTitle, EmptyTitleIsAllBlanks) {
    TitleAfter("XXXXXXXXXXXXXXXXXXXX", 20);
    EXPECT_EQ(TitleAfter("ignored", 0), std::string(20, ' '));
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

TEST_F(LinkParamsTest, NoCheckOnTheValues) {
    SDKSetParam(0, 0xFFFFFFFFu, 0);
    EXPECT_EQ(qm::Params().retryTimes.load(), 0u);
    EXPECT_EQ(qm::Params().beaconTimeout.load(), 0xFFFFFFFFu);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 0u);
}

TEST(Version, IsTheServiceVersion) {
    EXPECT_STREQ(SDKGetVersion(), "1.07");
}

}  // namespace
