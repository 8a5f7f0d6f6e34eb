#include "gui/window_loop.h"

#include <QApplication>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/qm_app.h"
#include "gui/main_window.h"
#include "gui/panels/dev_list_dlg.h"
#include "gui/panels/download_dlg.h"
#include "gui/panels/test_dlg.h"
#include "gui/screenshot_tour.h"
#include "link/link_state.h"

namespace qm {
namespace {

// Qt tries these in turn. The last one, which needs no display, tells that
// none of the others found theirs: the manager then runs headless rather
// than end, as Qt would with no platform at all.
constexpr const char* kNoDisplayPlatform = "minimal";

// The platforms asked for (QT_QPA_PLATFORM) or those of the display there is.
std::string AskedPlatforms() {
    const char* asked = std::getenv("QT_QPA_PLATFORM");
    if (asked && *asked)
        return asked;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland ? "wayland;xcb" : "xcb";
}

// Where the link shows a port that failed to open during start-up: the
// window's message box. Start-up runs on the window's thread.
MainWindow* g_linkMessageOwner = nullptr;

void LinkMessageBox(const char* text) {
    g_linkMessageOwner->MessageBox(text);
}

}  // namespace

PanelSet OperatorPanels(PanelHost& host, QWidget* parent) {
    return {AsStationPanel(new CDevListDlg(parent)), AsStationPanel(new CTestDlg(host, parent)),
            AsStationPanel(new CDownloadDlg(host, parent))};
}

int RunWindows(uint32_t backEndWindow, const Waitable* stop) {
    const std::string asked = AskedPlatforms();
    const bool displayless = asked.find(kNoDisplayPlatform) != std::string::npos;
    std::vector<std::string> args{"qm", "-platform",
                                  displayless ? asked : asked + ";" + kNoDisplayPlatform};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    QApplication app(argc, argv.data());
    if (!displayless && QGuiApplication::platformName() == kNoDisplayPlatform)
        return kNoDisplay;
    // Hidden in the tray the manager has no window shown, and runs on.
    QApplication::setQuitOnLastWindowClosed(false);

    auto owned = std::make_unique<MainWindow>(DesktopTrayMode(), &OperatorPanels);
    MainWindow& window = *owned;
    auto dlg = std::make_unique<CQMDlg>(backEndWindow, std::move(owned));
    g_linkMessageOwner = &window;
    SetMessageBoxFunction(&LinkMessageBox);
    const bool started = dlg->Init();
    SetMessageBoxFunction(nullptr);
    if (!started)
        return 1;
    window.Attach(*dlg, stop);
    // exit, not quit: a quit would first ask the window to close, which only
    // the window's own close road may do.
    QObject::connect(&window, &MainWindow::Ended, &app, [] { QCoreApplication::exit(0); });
    const std::unique_ptr<ScreenshotTour> tour = ScreenshotTour::FromEnvironment(window, *dlg);
    QApplication::exec();
    return 0;
}

}  // namespace qm
