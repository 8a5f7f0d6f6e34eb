// The link test panel's rules: the counters and error rates it shows, and
// "计数清零" around a test.
#include <gtest/gtest.h>

#include "panels/test_panel.h"
#include "tests/common/panel_site.h"

namespace qm {
namespace {

class TestPanelTest : public test::PanelSite {
  protected:
    TestPanel panel_{host_};
};

TEST_F(TestPanelTest, RowsShowTheCountersAndTheRateOfLostAndDamagedFrames) {
    panel_.AttachSite(site_);
    struct Row {
        uint32_t sent, ok, error, timeout;
        const char* rate;
    };
    const Row rows[] = {{200, 190, 4, 6, "5.00%"},
                        {3, 2, 0, 1, "33.33%"},
                        {10, 0, 0, 10, "100%"},
                        {5, 5, 0, 0, "0"}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        _TESTSTATUS& e = panel_.Entries()[i];
        e.selected = 1;
        e.sentCount = rows[i].sent;
        e.okCount = rows[i].ok;
        e.errorCount = rows[i].error;
        e.timeoutCount = rows[i].timeout;
    }
    EXPECT_FALSE(panel_.Tick());  // no test runs: the timer stops
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const std::array<std::string, 5> shown = {std::to_string(r.sent), std::to_string(r.ok),
                                                  std::to_string(r.error),
                                                  std::to_string(r.timeout), r.rate};
        for (size_t c = 0; c < shown.size(); ++c) EXPECT_EQ(panel_.Cell(i, c + 1), shown[c]);
    }
    panel_.TakeChangedRows();
    panel_.Tick();
    EXPECT_TRUE(panel_.TakeChangedRows().empty()) << "unchanged counters are not rewritten";
    panel_.ClearPressed();
    EXPECT_EQ(panel_.Cell(0, 1), "0");
    EXPECT_EQ(panel_.Cell(0, 5), "0");
}

TEST_F(TestPanelTest, ClearIsDisabledFromTheStartUntilTheFirstTickAfterTheStop) {
    StartLink();
    panel_.AttachSite(site_);
    panel_.Ticks().TerminalClicked(1);
    ASSERT_EQ(panel_.Press(1000), PressOutcome::kStarted);
    EXPECT_EQ(site_.testRunning, 1u);
    EXPECT_STREQ(panel_.ButtonText(), "停止测试");
    EXPECT_FALSE(panel_.ClearEnabled());
    EXPECT_EQ(panel_.Entries()[0].selected + panel_.Entries()[1].selected, 1);
    ASSERT_TRUE(test::WaitUntil([&] { return panel_.Tick() && panel_.Cell(1, 1) != "0"; }, 5000));

    EXPECT_EQ(panel_.Press(1499), PressOutcome::kIgnored);
    ASSERT_EQ(panel_.Press(1500), PressOutcome::kStopped);
    EXPECT_EQ(site_.testRunning, 0u);
    panel_.ClearPressed();
    EXPECT_NE(panel_.Cell(1, 1), "0") << "still disabled";
    EXPECT_FALSE(panel_.Tick());
    EXPECT_TRUE(panel_.ClearEnabled());
    panel_.ClearPressed();
    EXPECT_EQ(panel_.Cell(1, 1), "0");
}

}  // namespace
}  // namespace qm
