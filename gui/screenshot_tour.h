// Pictures of the operator's windows for the documentation: with
// QM_SCREENSHOTS=DIR in the environment, the manager with its windows walks
// through them by itself once it has started, the way an operator would, and
// saves each as a PNG into DIR:
//
//   logon.png        the logon dialog, name and password typed
//   device_list.png  the device list once a terminal of the first station
//                    has a logged-on operator
//   link_test.png    the link test panel, every terminal ticked, counting
//   download.png     the download panel, every terminal ticked, running
//
// Then it closes the manager. It needs a back-end that answers notices 10
// and 11 and devices that answer (scripts/screenshots.sh starts them). A
// step whose condition does not come in time is reported on standard error
// and the tour goes on.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "gui/main_window.h"

namespace qm {

class ScreenshotTour : public QObject {
    Q_OBJECT

  public:
    // Null unless QM_SCREENSHOTS names a folder.
    static std::unique_ptr<ScreenshotTour> FromEnvironment(MainWindow& window, CQMDlg& dlg);
    ScreenshotTour(MainWindow& window, CQMDlg& dlg, QString folder);

  private:
    struct Step {
        const char* waitingFor;
        std::function<bool()> ready;
        int limitMs;
        std::function<void()> act;
    };

    void Tick();
    bool After(int ms) const { return stepClock_.elapsed() >= ms; }
    void Save(QWidget& widget, const char* name);
    // Ticks every box "全选" of a panel and presses its button with the
    // given text; false when the panel has no such controls.
    bool Start(Panel panel, const char* startText);
    void Press(Panel panel, const char* text);
    bool Shows(Panel panel, const char* text) const;
    bool TerminalLoggedOn() const;

    MainWindow& window_;
    CQMDlg& dlg_;
    const QString folder_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    QTimer tick_;
    QElapsedTimer stepClock_;
    bool testStarted_ = false;
    bool downloadStarted_ = false;
};

}  // namespace qm
