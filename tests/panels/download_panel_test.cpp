// The download panel's rules: the selection and notice of a start, the
// status lines of the polls, the stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "panels/download_panel.h"
#include "tests/common/panel_site.h"

namespace qm {
namespace {

class DownloadPanelTest : public test::PanelSite {
  protected:
    // Whether notice `code` reached the back-end's window.
    bool NoticePosted(int64_t code) {
        WindowMessage m;
        while (window_->GetMessage(&m, kWaitMs))
            if (m.message == WM_POS_NOTICE && m.lParam == code)
                return true;
        return false;
    }
    static constexpr uint32_t kWaitMs = 5000;
    DownloadPanel panel_{host_};
};

TEST(DownloadFileFlags, FollowTheContentBoxes) {
    test::RecordingHost host(0);
    const DownloadPanel fresh(host);
    ContentBoxes setMealsOnly{};
    for (size_t b = 0; b < kContentBoxCount; ++b)
        setMealsOnly[b] = std::strcmp(kContentBoxes[b].label, "菜品套餐") == 0;
    const std::pair<ContentBoxes, std::array<int32_t, 11>> cases[] = {
        {fresh.Boxes(), {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
        {setMealsOnly, {0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [boxes, flags] : cases) {
        _DCBSELPARAM s{};
        FillFileFlags(boxes, s);
        EXPECT_TRUE(std::equal(flags.begin(), flags.end(), s.fileFlags));
    }
}

TEST_F(DownloadPanelTest, StartPostsNotice11ThenPollsWriteTheStatusLinesOfTheTickedTerminals) {
    StartLink();
    panel_.AttachSite(site_);
    panel_.Ticks().TerminalClicked(2);
    panel_.Ticks().TerminalClicked(0);
    ASSERT_EQ(panel_.Press(1000), PressOutcome::kAwaitGoAhead);
    EXPECT_STREQ(panel_.ButtonText(), "停止下载");
    EXPECT_EQ(site_.downloadRunning, 1u);
    EXPECT_TRUE(NoticePosted(QM_NOTICE_DATA_READY));
    const _DCBSELPARAM& sel = panel_.Selection();
    ASSERT_EQ(sel.dcbListCount, 2u);  // tree order, whatever the order of ticking
    EXPECT_EQ(sel.dcbList[0], 7);
    EXPECT_EQ(sel.dcbList[1], 12);
    ASSERT_TRUE(panel_.Launch());
    panel_.TakeChangedRows();

    // Terminals 7 and 12 are rows 0 and 2; row 1 (terminal 9) takes no part.
    struct Poll {
        uint32_t result;
        uint8_t state7, state12, file;
        uint32_t line, total;
        const char *row0, *row2;
        std::vector<size_t> changed;
    };
    const Poll polls[] = {
        {1, 1, 2, 0, 0, 0, "正在搜索...", "准备下载...", {0, 2}},
        {2, 3, 3, 0, 12, 80, "菜品表.TXT 12/80", "菜品表.TXT 12/80", {0, 2}},
        {2, 3, 0, 0, 12, 80, "菜品表.TXT 12/80", "下载失败", {2}},
        {2, 3, 0, 10, 3, 9, "新改菜品表.TXT 3/9", "下载失败", {0}},
        {3, 4, 0, 10, 9, 9, "下载成功", "下载失败", {0}},
    };
    for (const Poll& p : polls) {
        _UPDATESTATUS s{};
        s.dcbStatus[0] = p.state7;
        s.dcbStatus[1] = p.state12;
        s.fileIndex = p.file;
        s.lineNumber = p.line;
        s.lineTotal = p.total;
        EXPECT_EQ(panel_.Step(p.result, s), p.result != 3);
        EXPECT_EQ(panel_.RowStatus(0), p.row0);
        EXPECT_EQ(panel_.RowStatus(1), "");
        EXPECT_EQ(panel_.RowStatus(2), p.row2);
        EXPECT_EQ(panel_.TakeChangedRows(), p.changed);
        EXPECT_EQ(panel_.RowRed(2), p.state12 == 0);
        EXPECT_FALSE(panel_.RowRed(0) || panel_.RowRed(1));
    }
    EXPECT_FALSE(panel_.Running());
    EXPECT_STREQ(panel_.ButtonText(), "开始下载");
    EXPECT_EQ(site_.downloadRunning, 0u);
}

TEST_F(DownloadPanelTest, AStopReadsUserStopOnEveryRowAtTheNextPoll) {
    StartLink();
    panel_.AttachSite(site_);
    panel_.Ticks().SelectAllClicked(true);
    ASSERT_EQ(panel_.Press(1000), PressOutcome::kAwaitGoAhead);
    ASSERT_TRUE(panel_.Launch());
    EXPECT_EQ(panel_.Press(1499), PressOutcome::kIgnored);
    ASSERT_EQ(panel_.Press(1500), PressOutcome::kStopped);
    EXPECT_STREQ(panel_.ButtonText(), "开始下载");
    EXPECT_EQ(site_.downloadRunning, 0u);
    EXPECT_FALSE(panel_.Poll());
    for (size_t row = 0; row < panel_.Rows(); ++row) EXPECT_EQ(panel_.RowStatus(row), "用户终止");
}

}  // namespace
}  // namespace qm
