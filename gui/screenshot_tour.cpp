#include "gui/screenshot_tour.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "service/qmsdk.h"

namespace qm {
namespace {

constexpr int kTickMs = 100;

template <class Control>
Control* FindByText(QWidget* in, const char* text) {
    if (!in)
        return nullptr;
    for (Control* c : in->findChildren<Control*>())
        if (c->text() == QString::fromUtf8(text))
            return c;
    return nullptr;
}

}  // namespace

std::unique_ptr<ScreenshotTour> ScreenshotTour::FromEnvironment(MainWindow& window, CQMDlg& dlg) {
    const char* folder = std::getenv("QM_SCREENSHOTS");
    if (!folder || !*folder)
        return nullptr;
    return std::make_unique<ScreenshotTour>(window, dlg, QString::fromLocal8Bit(folder));
}

ScreenshotTour::ScreenshotTour(MainWindow& window, CQMDlg& dlg, QString folder)
    : window_(window), dlg_(dlg), folder_(std::move(folder)) {
    CLogonDlg& logon = *window_.Logon();
    steps_ = {
        {"the start", [this] { return After(1000); }, 0,
         [this] { PostMessage(dlg_.Handle(), WM_TRAY_NOTIFY, kTrayIconId, kTrayDoubleClick); }},
        {"the logon dialog", [this, &logon] { return logon.isVisible() && After(500); }, 5000,
         [this, &logon] {
             logon.NameField()->setText(QString::fromUtf8("张三"));
             logon.PasswordField()->setText(QStringLiteral("8888"));
             Save(logon, "logon.png");
             logon.OkButton()->click();
         }},
        {"a terminal logged on", [this] { return TerminalLoggedOn() && After(700); }, 20000,
         [this] {
             window_.ShowPanel(Panel::kDeviceList);
             Save(window_, "device_list.png");
             testStarted_ = Start(Panel::kLinkTest, "开始测试");
         }},
        {"link test counts", [this] { return !testStarted_ || After(3000); }, 0,
         [this] {
             if (testStarted_)
                 Save(window_, "link_test.png");
             Press(Panel::kLinkTest, "停止测试");
         }},
        {"the link test's end",
         [this] { return !testStarted_ || Shows(Panel::kLinkTest, "开始测试"); }, 5000,
         [this] { downloadStarted_ = Start(Panel::kDownload, "开始下载"); }},
        {"download progress", [this] { return !downloadStarted_ || After(8000); }, 0,
         [this] {
             if (downloadStarted_)
                 Save(window_, "download.png");
             Press(Panel::kDownload, "停止下载");
         }},
        {"the download's end",
         [this] { return !downloadStarted_ || Shows(Panel::kDownload, "开始下载"); }, 30000,
         [this] { PostMessage(dlg_.Handle(), kWmClose, 0, 0); }},
    };
    connect(&tick_, &QTimer::timeout, this, &ScreenshotTour::Tick);
    tick_.start(kTickMs);
    stepClock_.start();
}

void ScreenshotTour::Tick() {
    if (next_ >= steps_.size())
        return;
    Step& step = steps_[next_];
    if (!step.ready()) {
        if (!step.limitMs || !After(step.limitMs))
            return;
        std::fprintf(stderr, "qm: screenshots: %s did not come, going on\n", step.waitingFor);
    }
    ++next_;
    stepClock_.restart();
    step.act();
}

void ScreenshotTour::Save(QWidget& widget, const char* name) {
    const QString path = QDir(folder_).filePath(QString::fromUtf8(name));
    const bool saved = widget.grab().save(path, "PNG");
    std::fprintf(stderr, "qm: screenshots: %s %s\n", qPrintable(path),
                 saved ? "saved" : "could not be saved");
}

bool ScreenshotTour::Start(Panel panel, const char* startText) {
    window_.ShowPanel(panel);
    StationPanel* p = window_.PanelAt(panel);
    QWidget* widget = p ? p->Widget() : nullptr;
    auto* all = FindByText<QCheckBox>(widget, "全选");
    auto* start = FindByText<QPushButton>(widget, startText);
    if (!all || !start) {
        std::fprintf(stderr, "qm: screenshots: no 全选 or %s in this panel, no picture\n",
                     startText);
        return false;
    }
    if (!all->isChecked())
        all->click();
    start->click();
    return true;
}

void ScreenshotTour::Press(Panel panel, const char* text) {
    StationPanel* p = window_.PanelAt(panel);
    if (auto* button = FindByText<QPushButton>(p ? p->Widget() : nullptr, text))
        button->click();
}

bool ScreenshotTour::Shows(Panel panel, const char* text) const {
    StationPanel* p = window_.PanelAt(panel);
    return FindByText<QPushButton>(p ? p->Widget() : nullptr, text) != nullptr;
}

bool ScreenshotTour::TerminalLoggedOn() const {
    const SiteContext& site = dlg_.Site();
    if (site.stationCount == 0)
        return false;
    const _DEVINFO& station = site.stations[0];
    for (size_t i = 0; i < station.dcbCount && i < QM_MAX_TERMINALS; ++i)
        if (station.dcbState[i] == 1)
            return true;
    return false;
}

}  // namespace qm
