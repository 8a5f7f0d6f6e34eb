// What the download and link test panels share: the ticks of the terminal
// tree, and the refusals of a start.
#include <gtest/gtest.h>

#include "panels/download_panel.h"
#include "panels/test_panel.h"
#include "tests/common/panel_site.h"

namespace qm {
namespace {

TEST(TickTree, ClicksAreCountedBeforeTheFlipAndAllTickedDrivesRootAndSelectAll) {
    enum Click { kRoot, kTerminal, kSelectAll, kUnselectAll };
    struct Step {
        Click click;
        size_t terminal;
        const char* ticks;  // expected ticks of the three terminals
        int32_t count;
        bool all;  // root and "全选"
    };
    const Step steps[] = {
        {kTerminal, 1, "010", 1, false},    {kTerminal, 0, "110", 2, false},
        {kTerminal, 2, "111", 3, true},     {kTerminal, 1, "101", 2, false},
        {kRoot, 0, "111", 3, true},         {kRoot, 0, "000", 0, false},
        {kSelectAll, 0, "111", 3, true},    {kTerminal, 0, "011", 2, false},
        {kUnselectAll, 0, "000", 0, false},
    };
    TickTree t;
    t.Reset(3);
    for (const Step& s : steps) {
        switch (s.click) {
            case kRoot:
                t.RootClicked();
                break;
            case kTerminal:
                t.TerminalClicked(s.terminal);
                break;
            case kSelectAll:
                t.SelectAllClicked(true);
                break;
            case kUnselectAll:
                t.SelectAllClicked(false);
                break;
        }
        std::string ticks;
        for (size_t i = 0; i < t.Size(); ++i) ticks += t.Ticked(i) ? '1' : '0';
        SCOPED_TRACE(ticks);
        EXPECT_EQ(ticks, s.ticks);
        EXPECT_EQ(t.CountText(), std::to_string(s.count));
        EXPECT_EQ(t.RootTicked(), s.all);
        EXPECT_EQ(t.SelectAll(), s.all);
    }
}

using test::PanelSite;
using Boxes = std::vector<std::string>;

TEST_F(PanelSite, StartIsRefusedUntickedOnAStoppedStationOrWhileTheOtherActivityRuns) {
    auto refusals = [&](auto& panel, uint32_t SiteContext::*otherActivity) {
        host_.boxes.clear();
        panel.AttachSite(site_);
        EXPECT_EQ(panel.Press(1000), PressOutcome::kRefused);
        EXPECT_EQ(panel.Press(1499), PressOutcome::kIgnored);  // a refused press counts too
        panel.Ticks().RootClicked();
        panel.ShowStation(0);  // a station shown anew starts unticked
        panel.Press(1500);
        panel.Ticks().RootClicked();
        site_.*otherActivity = 1;
        panel.Press(2000);
        site_.*otherActivity = 0;
        panel.ShowStation(1);
        panel.Ticks().RootClicked();
        panel.Press(2500);
        EXPECT_FALSE(panel.Running());
        return host_.boxes;
    };
    DownloadPanel download(host_);
    EXPECT_EQ(refusals(download, &SiteContext::testRunning),
              (Boxes{"请选择设备！", "请选择设备！", "请先关闭测试", "基站未运行"}));
    TestPanel test(host_);
    EXPECT_EQ(refusals(test, &SiteContext::downloadRunning),
              (Boxes{"请选择设备！", "请选择设备！", "请先关闭下载", "基站未运行"}));
    EXPECT_EQ(site_.downloadRunning + site_.testRunning, 0u);
}

}  // namespace
}  // namespace qm
