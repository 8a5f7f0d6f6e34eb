// The device list's rules: labels, pictures, and a refresh that redraws only
// the terminals whose logged-on word changed.
#include <gtest/gtest.h>

#include "panels/device_list.h"

namespace qm::test {
namespace {

std::vector<int> Pictures(const DeviceList& list) {
    std::vector<int> pictures;
    for (const auto& item : list.Items()) pictures.push_back(item.picture);
    return pictures;
}

TEST(DeviceListRules, RedrawsOnlyTheTerminalWhoseWordChanged) {
    SiteContext site;
    site.stationCount = 2;
    site.stations[0].dcbCount = 3;
    site.stations[0].dcbIds[0] = 7;
    site.stations[0].dcbIds[1] = 8;
    site.stations[0].dcbIds[2] = 120;
    site.stations[1].dcbCount = 1;
    site.stations[1].dcbState[0] = 1;
    DeviceList list;
    list.AttachSite(site);
    ASSERT_EQ(list.Items().size(), 3u);
    EXPECT_EQ(list.Items()[0].label, "007");
    EXPECT_EQ(list.Items()[2].label, "120");
    EXPECT_EQ(Pictures(list), (std::vector<int>{0, 0, 0}));

    site.stations[0].dcbState[2] = 1;
    EXPECT_EQ(list.Refresh(), std::vector<size_t>{2});
    EXPECT_EQ(Pictures(list), (std::vector<int>{0, 0, 1}));
    EXPECT_TRUE(list.Refresh().empty());

    // Another station shows its words at once; a word of a station not shown
    // changes nothing until that station is shown again.
    site.stations[0].dcbState[0] = 1;
    list.ShowStation(1);
    EXPECT_EQ(Pictures(list), std::vector<int>{1});
    EXPECT_TRUE(list.Refresh().empty());
    list.ShowStation(0);
    EXPECT_EQ(Pictures(list), (std::vector<int>{1, 0, 1}));
    EXPECT_TRUE(list.ShowStation(2).empty());
}

}  // namespace
}  // namespace qm::test
