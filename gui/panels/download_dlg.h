// The download panel on screen: the terminal tree, the "下载内容" boxes, the
// start/stop button and one status line per terminal. What it shows and
// does is DownloadPanel's; this class draws it and runs its timers.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "panels/download_panel.h"
#include "panels/panel_host.h"
#include "site/site_context.h"

class QPushButton;
class QSocketNotifier;
class QTableWidget;

namespace qm {

class TerminalPicker;

class CDownloadDlg : public QWidget {
    Q_OBJECT

  public:
    CDownloadDlg(PanelHost& host, QWidget* parent = nullptr);
    ~CDownloadDlg() override;

    void AttachSite(SiteContext& site);
    void ShowStation(uint8_t stationIndex);
    // From the start press to the end of the run.
    bool Running() const { return rules_.Running(); }

  protected:
    // Enter and Esc would close or hide the window that holds the panel.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // Builds the tree and the list for the station the rules show.
    void FillStation();
    void OnPress();
    void BeginGoAheadWait();
    void EndGoAheadWait();
    void Launch();
    void OnPoll();
    // Writes the rows whose status changed and every row's colour.
    void ShowRows();

    DownloadPanel rules_;
    SiteContext* site_ = nullptr;
    TerminalPicker* picker_;
    QPushButton* button_;
    QTableWidget* list_;
    // The wait for the back-end's go-ahead: its event's descriptor turns
    // readable, or the limit runs out; the window's thread goes on meanwhile.
    std::unique_ptr<QSocketNotifier> goAhead_;
    QTimer goAheadLimit_;
    QTimer pollDelay_;
    QTimer poll_;
};

}  // namespace qm
