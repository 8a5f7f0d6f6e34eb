#include "gui/main_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <cstring>

#include "app/qm_app.h"
#include "platform/app_log.h"
#include "service/service.h"

namespace qm {
namespace {

constexpr std::array<std::array<ButtonPicture, 2>, 3> kPanelPictures{{
    {ButtonPicture::kDeviceListGrey, ButtonPicture::kDeviceListColour},
    {ButtonPicture::kLinkTestGrey, ButtonPicture::kLinkTestColour},
    {ButtonPicture::kDownloadGrey, ButtonPicture::kDownloadColour},
}};

QPushButton* PictureButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setIconSize(QSize(kButtonPictureWidth, kButtonPictureHeight));
    button->setFixedSize(kButtonPictureWidth + 8, kButtonPictureHeight + 6);
    return button;
}

}  // namespace

TrayMode DesktopTrayMode() {
    return QSystemTrayIcon::isSystemTrayAvailable() ? TrayMode::kSystemTray : TrayMode::kTaskBar;
}

MainWindow::MainWindow(TrayMode tray, PanelFactory panels)
    // A caption, no close box: the manager ends when the back-end or a newer
    // manager says so, never by a click.
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  (tray == TrayMode::kTaskBar ? Qt::WindowMinimizeButtonHint : Qt::WindowType(0))),
      makePanels_(std::move(panels)),
      hideButton_(PictureButton(this)),
      stations_(new QComboBox(this)),
      version_(new QLabel(this)),
      panelArea_(new QWidget(this)) {
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setWindowIcon(DrawAppIcon());
    // Room for the largest panel, the download panel, beside the buttons.
    setFixedSize(880, 450);

    auto* left = new QVBoxLayout;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i] = PictureButton(this);
        left->addWidget(buttons_[i]);
        connect(buttons_[i], &QPushButton::clicked, this,
                [this, i] { ShowPanel(static_cast<Panel>(i)); });
    }
    hideButton_->setIcon(DrawButtonPicture(ButtonPicture::kPower));
    connect(hideButton_, &QPushButton::clicked, this, &MainWindow::EnterTray);
    left->addWidget(hideButton_);
    left->addSpacing(12);
    left->addWidget(new QLabel(QString::fromUtf8("基站:"), this));
    stations_->setFixedWidth(110);
    left->addWidget(stations_);
    left->addSpacing(8);
    left->addWidget(version_);
    left->addStretch();
    auto* grid = new QGridLayout(panelArea_);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(panelArea_, 1);
    ShowPanel(Panel::kDeviceList);

    if (tray == TrayMode::kSystemTray) {
        tray_ = new QSystemTrayIcon(DrawAppIcon(), this);
        tray_->setToolTip(QString::fromUtf8(kAppTitle));
    }
    EnterTray();
}

void MainWindow::Attach(CQMDlg& dlg, const Waitable* stop) {
    dlg_ = &dlg;
    // Looked at between messages too: a queue that the back-end keeps full
    // must not keep the stop waiting behind it.
    dlg.WatchStop(stop);
    SiteContext& site = dlg.Site();
    // In table order, so that an item's position is the station's index.
    for (uint32_t i = 0; i < site.stationCount && i < QM_MAX_STATIONS; ++i) {
        const _DEVINFO& station = site.stations[i];
        char port[sizeof station.portName + 1] = {};
        std::memcpy(port, station.portName, sizeof station.portName);
        stations_->addItem(QString::asprintf("基站%d-%s", station.hostId, port));
    }
    selectedStation_ = 0;
    version_->setText(QString::asprintf("App:%s DLL:%s", kAppVersion, service::Version()));

    panels_ = makePanels_(*this, panelArea_);
    auto* grid = static_cast<QGridLayout*>(panelArea_->layout());
    for (auto& panel : panels_) {
        if (!panel)
            continue;
        grid->addWidget(panel->Widget(), 0, 0, Qt::AlignLeft | Qt::AlignTop);
        panel->AttachSite(site);
    }
    ShowPanel(Panel::kDeviceList);

    logon_ = new CLogonDlg(site, this);
    connect(logon_, &QDialog::finished, this, &MainWindow::LogonFinished);
    connect(stations_, &QComboBox::activated, this, &MainWindow::StationChosen);
    if (tray_) {
        connect(tray_, &QSystemTrayIcon::activated, this, [this](auto reason) {
            // The double-click travels through the window's queue as on the
            // platform the manager comes from, behind what is queued.
            if (reason == QSystemTrayIcon::DoubleClick)
                PostMessage(dlg_->Handle(), WM_TRAY_NOTIFY, kTrayIconId, kTrayDoubleClick);
        });
    }

    const int queue = dlg.QueueReady().WaitFd();
    if (queue < 0) {
        LogError("The window's queue cannot be watched: the window ends", 255, 255);
        QMetaObject::invokeMethod(this, &MainWindow::Stop, Qt::QueuedConnection);
        return;
    }
    queueNotifier_ = new QSocketNotifier(queue, QSocketNotifier::Read, this);
    connect(queueNotifier_, &QSocketNotifier::activated, this, &MainWindow::DispatchMessages);
    if (stop && stop->WaitFd() >= 0) {
        stopNotifier_ = new QSocketNotifier(stop->WaitFd(), QSocketNotifier::Read, this);
        connect(stopNotifier_, &QSocketNotifier::activated, this, &MainWindow::Stop);
    }
}

void MainWindow::ShowPanel(Panel panel) {
    const auto shown = static_cast<size_t>(panel);
    for (size_t i = 0; i < buttons_.size(); ++i) {
        if (panels_[i])
            panels_[i]->Widget()->setVisible(i == shown);
        pictures_[i] = kPanelPictures[i][i == shown ? 1 : 0];
        buttons_[i]->setIcon(DrawButtonPicture(pictures_[i]));
    }
}

void MainWindow::EnterTray() {
    trayIconShown_ = true;
    if (tray_) {
        hide();
        tray_->show();
        return;
    }
    showMinimized();
}

void MainWindow::LeaveTray() {
    // Cleared first: the restore below must not count as the operator's.
    trayIconShown_ = false;
    if (tray_)
        tray_->hide();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || tray_ || !trayIconShown_ || !dlg_ ||
        isMinimized())
        return;
    // Restored from the task bar by the operator: the tray's double-click.
    PostMessage(dlg_->Handle(), WM_TRAY_NOTIFY, kTrayIconId, kTrayDoubleClick);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The desktop's close request takes the window's own road.
    event->ignore();
    if (dlg_)
        PostMessage(dlg_->Handle(), kWmClose, 0, 0);
}

void MainWindow::OpenFromTray() {
    LeaveTray();
    if (logon_->isVisible()) {
        logon_->raise();
        logon_->activateWindow();
        return;
    }
    logon_->open();
}

void MainWindow::LogonFinished(int result) {
    if (result != QDialog::Accepted) {
        EnterTray();
        return;
    }
    // The back-end checks DL.txt and answers with its own notice 10.
    if (!NotifyBackEnd(QM_NOTICE_LOGON))
        LogError("PostMessage Error", 255, 255);
}

bool MainWindow::NotifyBackEnd(int64_t code) {
    return dlg_ && dlg_->NotifyBackEnd(code);
}

void MainWindow::ShowDownloadPanel() {
    if (trayIconShown_)
        LeaveTray();
    ShowPanel(Panel::kDownload);
}

void MainWindow::MessageBox(const char* text) {
    // A box owned by a hidden or minimised window could stay out of sight.
    QWidget* owner = isVisible() && !isMinimized() ? this : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromUtf8(text),
                    QMessageBox::Ok, owner);
    box.exec();
}

void MainWindow::Close() {
    if (logon_ && logon_->isVisible())
        logon_->OkAction();
    trayIconShown_ = false;
    if (tray_)
        tray_->hide();
}

void MainWindow::StationChosen(int index) {
    if (index < 0 || static_cast<uint8_t>(index) == selectedStation_)
        return;
    selectedStation_ = static_cast<uint8_t>(index);
    for (auto& panel : panels_)
        if (panel)
            panel->ShowStation(selectedStation_);
}

void MainWindow::DispatchMessages() {
    if (!dlg_->DispatchPending())
        Finish();
}

void MainWindow::Stop() {
    if (stopNotifier_)
        stopNotifier_->setEnabled(false);
    if (!dlg_->Ended())
        dlg_->OnClose();
    Finish();
}

void MainWindow::Finish() {
    if (finished_)
        return;
    finished_ = true;
    if (queueNotifier_)
        queueNotifier_->setEnabled(false);
    emit Ended();
}

}  // namespace qm
