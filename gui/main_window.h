// The main window as the operator sees it: four picture buttons, the base
// station box and the version text on the left, one of three panels on the
// right, the tray icon, and the logon dialog. CQMDlg keeps the behaviour that
// needs no screen and calls this window through WindowUi; the panels reach
// it through PanelHost.
//
// States: in the tray (window hidden, tray icon shown) at start, after Cancel
// in the logon dialog and after the 退出 button; open (window shown, icon
// removed) after a double-click on the icon, with the logon dialog over it
// until the operator confirms or cancels, or after the back-end's notice 12.
// On a desktop that offers no tray the window stands minimised in the task
// bar instead of the icon, and restoring it counts as the double-click.
//
// The window's message queue is watched by a socket notifier: every queued
// message (the back-end's notices, the link's requests, the tray's
// double-click, the close request) is handled in the Qt loop's thread.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QWidget>
#include <array>
#include <cstdint>

#include "app/qm_dlg.h"
#include "gui/panels/logon_dlg.h"
#include "gui/pictures.h"
#include "gui/station_panel.h"
#include "panels/panel_host.h"

namespace qm {

enum class Panel { kDeviceList = 0, kLinkTest = 1, kDownload = 2 };

enum class TrayMode {
    kSystemTray,  // an icon in the desktop's tray
    kTaskBar,     // no tray: a minimised window in the task bar
};
// What this desktop offers.
TrayMode DesktopTrayMode();

class MainWindow : public QWidget, public WindowUi, public PanelHost {
    Q_OBJECT

  public:
    // Made hidden, with its tray icon (or minimised); the panels come with
    // Attach.
    MainWindow(TrayMode tray, PanelFactory panels);

    // After the window's initialisation: the station box, the version text,
    // the panels with the site, the logon dialog and the message loop. stop
    // (may be null) closes the window once it is released.
    void Attach(CQMDlg& dlg, const Waitable* stop);

    // Shows one panel and hides the other two; the button pictures follow.
    void ShowPanel(Panel panel);

    // WindowUi.
    void OpenFromTray() override;
    void ShowDownloadPanel() override;
    void MessageBox(const char* text) override;
    void Close() override;
    // PanelHost: through the window's outbox to the back-end.
    bool NotifyBackEnd(int64_t code) override;

    QPushButton* Button(Panel panel) const { return buttons_[static_cast<size_t>(panel)]; }
    QPushButton* HideButton() const { return hideButton_; }
    ButtonPicture PictureOf(Panel panel) const { return pictures_[static_cast<size_t>(panel)]; }
    QComboBox* StationBox() const { return stations_; }
    QLabel* VersionLabel() const { return version_; }
    StationPanel* PanelAt(Panel panel) const { return panels_[static_cast<size_t>(panel)].get(); }
    // Null on a desktop without a tray.
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    bool TrayIconShown() const { return trayIconShown_; }
    CLogonDlg* Logon() const { return logon_; }

  signals:
    // The window has ended: the Qt loop is to stop.
    void Ended();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void EnterTray();
    void LeaveTray();
    void StationChosen(int index);
    void LogonFinished(int result);
    void DispatchMessages();
    void Stop();
    void Finish();

    PanelFactory makePanels_;
    CQMDlg* dlg_ = nullptr;
    std::array<QPushButton*, 3> buttons_{};
    std::array<ButtonPicture, 3> pictures_{};
    QPushButton* hideButton_;
    QComboBox* stations_;
    QLabel* version_;
    QWidget* panelArea_;
    PanelSet panels_;
    CLogonDlg* logon_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QSocketNotifier* queueNotifier_ = nullptr;
    QSocketNotifier* stopNotifier_ = nullptr;
    uint8_t selectedStation_ = 0;
    bool trayIconShown_ = false;
    bool finished_ = false;
};

}  // namespace qm
