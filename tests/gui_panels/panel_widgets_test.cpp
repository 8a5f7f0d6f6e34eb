// The download and link test panels on screen, under Qt's offscreen
// platform, with a stand-in for the main window that records message boxes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "gui/panels/download_dlg.h"
#include "gui/panels/test_dlg.h"
#include "tests/common/panel_site.h"

namespace qm {
namespace {

class QtApplication : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[8] = "qmtest";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtApplication);

class PanelWidgets : public test::PanelSite {
  protected:
    // Runs the window's event loop until pred holds; a 10 ms timer wakes
    // it to look at what no Qt event announces.
    static bool RunUntil(const std::function<bool()>& pred, int ms) {
        QTimer wake;
        wake.start(10);
        const QDeadlineTimer deadline(ms);
        while (!pred()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
};

TEST_F(PanelWidgets, TheTreeCountsTicksAndAStartWithNothingTickedIsRefused) {
    auto check = [&](QWidget& panel) {
        auto* root = panel.findChild<QTreeWidget*>("terminals")->topLevelItem(0);
        auto* count = panel.findChild<QLabel*>("count");
        auto* all = panel.findChild<QCheckBox*>("selectAll");
        root->setCheckState(0, Qt::Checked);  // what the operator's click does
        EXPECT_EQ(count->text(), "4");
        EXPECT_TRUE(all->isChecked());
        EXPECT_EQ(root->child(3)->checkState(0), Qt::Checked);
        root->child(1)->setCheckState(0, Qt::Unchecked);
        EXPECT_EQ(count->text(), "3");
        EXPECT_FALSE(all->isChecked());
        EXPECT_EQ(root->checkState(0), Qt::Unchecked);
        all->click();
        all->click();
        EXPECT_EQ(count->text(), "0");
        EXPECT_EQ(root->child(0)->checkState(0), Qt::Unchecked);
        panel.findChild<QPushButton*>("startStop")->click();
    };
    CDownloadDlg download(host_);
    download.AttachSite(site_);
    check(download);
    CTestDlg test(host_);
    test.AttachSite(site_);
    check(test);
    EXPECT_EQ(host_.boxes, (std::vector<std::string>{"请选择设备！", "请选择设备！"}));
}

TEST_F(PanelWidgets, AGoAheadDuringTheWaitStartsTheRunAtOnce) {
    StartLink();
    Term("COM3", 7).SetSilent(true);  // unfound, it ends the run without a closing exchange
    CDownloadDlg panel(host_);
    panel.AttachSite(site_);
    panel.findChild<QTreeWidget*>("terminals")
        ->topLevelItem(0)
        ->child(0)
        ->setCheckState(0, Qt::Checked);
    QTableWidgetItem* status = panel.findChild<QTableWidget*>("report")->item(0, 1);

    const int64_t pressed = MonotonicMs();
    panel.findChild<QPushButton*>("startStop")->click();
    bool notice = false;
    ASSERT_TRUE(RunUntil(
        [&] {
            WindowMessage m;
            while (window_->PeekMessage(&m))
                notice |= m.message == WM_POS_NOTICE && m.lParam == QM_NOTICE_DATA_READY;
            return notice;
        },
        2000));
    site_.dataReadyEvent->Set();  // what the main window does on the back-end's notice 11
    ASSERT_TRUE(RunUntil([&] { return !status->text().isEmpty(); }, 5000));
    EXPECT_LT(MonotonicMs() - pressed, 2000) << "the start waited out its 3000 ms";
    EXPECT_FALSE(site_.dataReadyEvent->IsSet()) << "the go-ahead is taken";
}

}  // namespace
}  // namespace qm
