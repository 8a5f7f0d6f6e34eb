// The link test panel on screen: the terminal tree, "计数清零", the
// start/stop button and one row of counters per terminal. What it shows and
// does is TestPanel's; this class draws it and runs its display timer.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "panels/panel_host.h"
#include "panels/test_panel.h"
#include "site/site_context.h"

class QPushButton;
class QTableWidget;

namespace qm {

class TerminalPicker;

class CTestDlg : public QWidget {
    Q_OBJECT

  public:
    CTestDlg(PanelHost& host, QWidget* parent = nullptr);

    void AttachSite(SiteContext& site);
    void ShowStation(uint8_t stationIndex);
    // From the start press to the stop press.
    bool Running() const { return rules_.Running(); }

  protected:
    // Enter and Esc would close or hide the window that holds the panel.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void FillStation();
    void OnPress();
    void OnTick();
    // Writes the rows whose texts changed and the buttons' states.
    void ShowRows();

    TestPanel rules_;
    TerminalPicker* picker_;
    QPushButton* clear_;
    QPushButton* button_;
    QTableWidget* list_;
    QTimer displayDelay_;
    QTimer display_;
};

}  // namespace qm
