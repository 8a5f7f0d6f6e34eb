// The main window on Qt's offscreen platform: the tray and task-bar roads to
// the logon dialog, the logon's notice and its rejection, the panel buttons
// and the station box. The back-end is the test's window at kWindow; the
// panels are stand-ins that record what the window tells them.
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

#include "gui/main_window.h"
#include "tests/common/test_site.h"

namespace qm::test {
namespace {

class QtApplication : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[3] = "qm";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtApplication);

class RecordingPanel : public QWidget {
  public:
    RecordingPanel(size_t index, std::vector<std::string>& calls, QWidget* parent)
        : QWidget(parent), index_(index), calls_(calls) {}
    void AttachSite(SiteContext&) {}
    void ShowStation(uint8_t s) {
        calls_.push_back(std::to_string(index_) + ":" + std::to_string(s));
    }

  private:
    size_t index_;
    std::vector<std::string>& calls_;
};

// Accepts every message box as it shows, keeping its text.
class BoxCloser : public QObject {
  public:
    BoxCloser() { qApp->installEventFilter(this); }
    ~BoxCloser() override { qApp->removeEventFilter(this); }
    std::vector<std::string> texts;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            texts.push_back(box->text().toStdString());
            QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
        }
        return false;
    }
};

class OperatorWindow : public WindowSiteTest {
  protected:
    void Start(TrayMode tray) {
        WriteFile(*home_ / "TXT/基站.TXT", "2 X2\r\n1 X1\r\n");
        auto window = std::make_unique<MainWindow>(tray, [this](PanelHost&, QWidget* p) {
            PanelSet panels;
            for (size_t i = 0; i < panels.size(); ++i)
                panels[i] = AsStationPanel(new RecordingPanel(i, calls_, p));
            return panels;
        });
        win_ = window.get();
        dlg_ = std::make_unique<CQMDlg>(kWindow, std::move(window));
        ASSERT_TRUE(dlg_->Init());
        win_->Attach(*dlg_, nullptr);
        ASSERT_EQ(NextNotice(), dlg_->Handle());
    }
    void TearDown() override {
        dlg_.reset();
        WindowSiteTest::TearDown();
    }

    // Runs the Qt loop until pred holds; bounded. The timer wakes each wait.
    bool Until(const std::function<bool()>& pred) {
        const QDeadlineTimer deadline(5000);
        QTimer wake;
        wake.start(20);
        while (!pred()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    int64_t NextNotice() {
        WindowMessage m;
        return window_->GetMessage(&m, 2000) && m.message == WM_POS_NOTICE ? m.lParam : -1;
    }
    bool PostToWindow(uint32_t message, uint64_t wParam, int64_t lParam) {
        return PostMessage(dlg_->Handle(), message, wParam, lParam);
    }
    bool OpenLogon() {
        return PostToWindow(WM_TRAY_NOTIFY, kTrayIconId, kTrayDoubleClick) &&
               Until([this] { return win_->Logon()->isVisible(); });
    }
    void Confirm(const char* name, const char* password) {
        win_->Logon()->NameField()->setText(QString::fromUtf8(name));
        win_->Logon()->PasswordField()->setText(QString::fromUtf8(password));
        win_->Logon()->OkButton()->click();
    }
    bool Shown() const { return win_->isVisible() && !win_->isMinimized(); }

    std::vector<std::string> calls_;
    MainWindow* win_ = nullptr;
    std::unique_ptr<CQMDlg> dlg_;
};

TEST_F(OperatorWindow, WithoutATrayTheMinimisedWindowStandsForTheIcon) {
    Start(TrayMode::kTaskBar);
    EXPECT_TRUE(win_->isMinimized());
    ASSERT_TRUE(OpenLogon());
    EXPECT_TRUE(Shown());

    win_->Logon()->NameField()->setText("ab");
    win_->Logon()->CancelButton()->click();
    EXPECT_TRUE(win_->isMinimized());
    EXPECT_FALSE(win_->Logon()->isVisible());
    EXPECT_FALSE(Exists(Txt("DL.txt")));
    EXPECT_TRUE(win_->Logon()->NameField()->text().isEmpty());

    // The operator restores it from the task bar.
    win_->showNormal();
    ASSERT_TRUE(Until([this] { return win_->Logon()->isVisible(); }));
    Confirm("ab", "12");
    EXPECT_EQ(NextNotice(), QM_NOTICE_LOGON);
    EXPECT_EQ(ReadFile(Txt("DL.txt")), "  ab   12\r\n");
    EXPECT_TRUE(Shown());
}

TEST_F(OperatorWindow, TrayDoubleClickOpensTheLogonAndCancelPutsTheIconBack) {
    Start(TrayMode::kSystemTray);
    QSystemTrayIcon& tray = *win_->TrayIcon();
    EXPECT_TRUE(tray.isVisible());
    EXPECT_FALSE(win_->isVisible());
    emit tray.activated(QSystemTrayIcon::DoubleClick);
    ASSERT_TRUE(Until([this] { return win_->Logon()->isVisible(); }));
    EXPECT_TRUE(Shown());
    EXPECT_FALSE(tray.isVisible());

    win_->Logon()->CancelButton()->click();
    EXPECT_FALSE(win_->isVisible());
    EXPECT_TRUE(tray.isVisible());
}

TEST_F(OperatorWindow, ARejectedLogonShowsTheBoxAndAsksAgain) {
    Start(TrayMode::kSystemTray);
    ASSERT_TRUE(OpenLogon());
    Confirm("ab", "12");
    ASSERT_EQ(NextNotice(), QM_NOTICE_LOGON);
    EXPECT_FALSE(win_->Logon()->isVisible());

    WriteFile(Txt("DL.txt"), "0 wrong password\r\n");
    BoxCloser boxes;
    ASSERT_TRUE(PostToWindow(WM_POS_NOTICE, 0, QM_NOTICE_LOGON));
    ASSERT_TRUE(Until([this] { return win_->Logon()->isVisible(); }));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"用户名或密码错误,请重试！！"});
    EXPECT_TRUE(Shown());
}

TEST_F(OperatorWindow, PictureButtonsShowOnePanelAndColourItsPicture) {
    Start(TrayMode::kSystemTray);
    // Notice 12: up from the tray on the download panel, without a logon.
    ASSERT_TRUE(PostToWindow(WM_POS_NOTICE, 0, QM_NOTICE_OPEN_DOWNLOAD));
    ASSERT_TRUE(Until([this] { return Shown(); }));
    EXPECT_FALSE(win_->TrayIcon()->isVisible());
    EXPECT_FALSE(win_->Logon()->isVisible());
    EXPECT_FALSE(win_->PanelAt(Panel::kDownload)->Widget()->isHidden());

    using P = ButtonPicture;
    const std::pair<Panel, std::array<P, 3>> table[] = {
        {Panel::kLinkTest, {P::kDeviceListGrey, P::kLinkTestColour, P::kDownloadGrey}},
        {Panel::kDeviceList, {P::kDeviceListColour, P::kLinkTestGrey, P::kDownloadGrey}},
        {Panel::kDownload, {P::kDeviceListGrey, P::kLinkTestGrey, P::kDownloadColour}},
    };
    for (const auto& [clicked, pictures] : table) {
        win_->Button(clicked)->click();
        for (Panel p : {Panel::kDeviceList, Panel::kLinkTest, Panel::kDownload}) {
            EXPECT_EQ(win_->PanelAt(p)->Widget()->isHidden(), p != clicked);
            EXPECT_EQ(win_->PictureOf(p), pictures[static_cast<size_t>(p)]);
        }
    }

    win_->HideButton()->click();
    EXPECT_FALSE(win_->isVisible());
    EXPECT_TRUE(win_->TrayIcon()->isVisible());
}

TEST_F(OperatorWindow, AnotherStationRefillsEveryPanelTheSameOneNone) {
    Start(TrayMode::kSystemTray);
    QComboBox& box = *win_->StationBox();
    ASSERT_EQ(box.count(), 2);
    EXPECT_EQ(box.itemText(0).toStdString(), "基站2-X2");
    EXPECT_EQ(box.itemText(1).toStdString(), "基站1-X1");
    EXPECT_EQ(win_->VersionLabel()->text().toStdString(), "App:1.05 DLL:1.07");

    emit box.activated(1);
    emit box.activated(1);
    EXPECT_EQ(calls_, (std::vector<std::string>{"0:1", "1:1", "2:1"}));
    emit box.activated(0);
    EXPECT_EQ(calls_.size(), 6u);
}

TEST_F(OperatorWindow, CloseGivesTheOpenLogonItsOkAndEndsTheLoop) {
    Start(TrayMode::kSystemTray);
    bool ended = false;
    QObject::connect(win_, &MainWindow::Ended, [&ended] { ended = true; });
    ASSERT_TRUE(OpenLogon());
    // Enter in the name field moves on to the password field, where the OK
    // action confirms.
    QLineEdit& name = *win_->Logon()->NameField();
    name.setText("ab");
    name.setFocus();
    emit name.returnPressed();
    ASSERT_TRUE(PostToWindow(kWmClose, 0, 0));
    ASSERT_TRUE(Until([&ended] { return ended; }));
    EXPECT_EQ(ReadFile(Txt("DL.txt")), "  ab     \r\n");
    EXPECT_EQ(NextNotice(), QM_NOTICE_LOGON);
    EXPECT_FALSE(win_->TrayIcon()->isVisible());
}

}  // namespace
}  // namespace qm::test
