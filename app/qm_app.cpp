#include "app/qm_app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/command_line.h"
#include "app/qm_dlg.h"
#include "platform/app_log.h"
#include "platform/open_files.h"
#include "platform/process.h"
#include "service/service.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "usage: qm HANDLE\n"
    "       qm --help | --version\n";

void PrintHelp(bool withWindows) {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "The terminal link manager. The POS back-end starts it with its own window\n"
        "handle in decimal; the manager keeps the radio link to the terminals\n"
        "through the base stations of TXT/基站.TXT and bridges their requests to\n"
        "the back-end by request and reply files and window messages. Without a\n"
        "valid handle (no number, or 0) the manager ends at once, silently.\n"
        "\n"
        "  --help       this text\n"
        "  --version    the manager's and the service's versions\n"
        "\n"
        "Files: QM.ini (settings, section [CONFIG]), TXT/ (the site files and the\n"
        "exchange with the back-end) and ports/ (links to serial devices) in the\n"
        "program folder; QMLog.txt and QMPktLog.txt in the current folder.\n"
        "Environment:\n"
        "  QM_HOME                   the program folder (see qm(1) for the folder\n"
        "                            used without it)\n"
        "  QM_RUNTIME_DIR            the runtime folder of window sockets and named\n"
        "                            events (else $XDG_RUNTIME_DIR/qm, else\n"
        "                            /tmp/qm-<uid>)\n"
        "  QM_HEADLESS=1             no windows even with a display\n"
        "  QM_BACKEND_GONE_SECONDS   default 30: the manager closes once the\n"
        "                            back-end's window has been gone this long\n"
        "The named event __QM_MUTEXT closes a running manager\n"
        "(qm-post --set-event __QM_MUTEXT).\n"
        "\n",
        stdout);
    std::fputs(
        withWindows
            ? "With a display (DISPLAY or WAYLAND_DISPLAY set) the manager shows a tray\n"
              "  icon, or a minimised window where the desktop has no tray; a double-click\n"
              "  on the icon, or restoring the window, asks for an operator logon and opens\n"
              "  the window. Without a display it runs headless and prints its stations on\n"
              "  standard output.\n"
            : "This build has no windows: the manager always runs headless and prints\n"
              "  its stations on standard output.\n",
        stdout);
    std::fputs(
        "Exit status: 0, also when it ends at once for want of a handle (an\n"
        "unknown option included); 1 when its window cannot be created.\n",
        stdout);
}

// A display is there to be used, and nothing asks for headless running.
bool WindowsWanted() {
    const char* headless = std::getenv("QM_HEADLESS");
    if (headless && std::strcmp(headless, "1") == 0)
        return false;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

void PrintSite(CQMDlg& dlg) {
    SiteContext& site = dlg.Site();
    std::printf("QM %s (service %s) running headless: window %u, program folder %s\n", kAppVersion,
                service::Version(), dlg.Handle(), site.programDir.c_str());
    std::printf("%u base station(s)%s\n", site.stationCount,
                site.tooManyStations ? " (more than 8 listed: link not started)" : "");
    for (uint32_t i = 0; i < site.stationCount; ++i) {
        const _DEVINFO& st = site.stations[i];
        char port[7] = {};
        std::memcpy(port, st.portName, sizeof st.portName);
        std::printf("  基站%d-%s: %u terminal(s):", st.hostId, port, st.dcbCount);
        for (uint32_t t = 0; t < st.dcbCount; ++t) std::printf(" %.3d", st.dcbIds[t]);
        std::printf("\n");
    }
    // Nobody may read standard output: a failed write loses only this text.
    if (std::fflush(stdout) != 0)
        LogError("Standard output closed: site summary not shown", 255, 255);
}

}  // namespace

int CQMApp::Run(int argc, char** argv, WindowLoop windows) {
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintHelp(windows != nullptr);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qm %s (service %s)\n", kAppVersion, service::Version());
        return 0;
    }
    const uint32_t backEnd = ParseWindowHandle(argc >= 2 ? argv[1] : nullptr);
    if (backEnd == 0)
        return 0;

    // The back-end may start the manager with its output on a pipe that it
    // closes later, and a headless message box goes to standard error: a
    // write to a closed pipe must fail with EPIPE, never end the manager
    // before it has closed its window and stopped its link.
    IgnoreBrokenPipe();
    // Each station takes a few descriptors; raise the limit before anything
    // is opened. Failing that, the usual limit still serves 8 stations.
    RaiseOpenFilesLimit();
    // Blocked before any thread starts, so every thread inherits the mask.
    StopSignals signals;
    const Waitable* stop = signals.Valid() ? &signals : nullptr;
    if (windows && WindowsWanted()) {
        const int status = windows(backEnd, stop);
        if (status != kNoDisplay)
            return status;
        LogError("No display could be reached: running headless", 255, 255);
    }
    auto dlg = std::make_unique<CQMDlg>(backEnd, std::make_unique<HeadlessUi>());
    if (!dlg->Init())
        return 1;
    // Headless, the site goes to standard output instead of the window.
    PrintSite(*dlg);
    dlg->RunModalLoop(stop);
    dlg.reset();
    return 0;
}

}  // namespace qm
