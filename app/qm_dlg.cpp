#include "app/qm_dlg.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/pos_bridge.h"
#include "app/site_files.h"
#include "app/startup.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/timer.h"
#include "service/qmsdk.h"
#include "service/service.h"

namespace qm {
namespace {

// A running manager wakes on the named event and closes, releasing its
// serial ports; this is the time it is given before the ports are opened.
constexpr uint32_t kInstanceHandOverPause = 300;
// A manager that still holds the named event after that is still stopping
// its link; it is waited for this long at most.
constexpr uint32_t kInstanceHandOverLimit = 5000;

}  // namespace

void HeadlessUi::OpenFromTray() {
    LogError("No display: the window and the logon are not shown", 255, 255);
}

void HeadlessUi::ShowDownloadPanel() {
    LogError("No display: the download panel is not shown", 255, 255);
}

void HeadlessUi::MessageBox(const char* text) {
    // Standard error may be a pipe that nobody reads any more: the write
    // then fails with EPIPE (the manager ignores SIGPIPE) and the text is
    // lost, as the log tells.
    const bool written = std::fprintf(stderr, "QM: %s\n", text) > 0 && std::fflush(stderr) == 0;
    LogError(written ? "No display: message box on standard error"
                     : "No display: message box lost, standard error closed",
             255, 255);
}

CQMDlg::CQMDlg(uint32_t backEndWindow, std::unique_ptr<WindowUi> ui)
    : backEndWindow_(backEndWindow), ui_(std::move(ui)) {}

CQMDlg::~CQMDlg() {
    if (linkStarted_ || site_.replyBuffer)
        ShutDown(site_);
    // After the link: no request notice comes any more. What still waits
    // for a busy back-end is dropped (and counted in the log).
    backEnd_.reset();
    // The named event is released only now, after the ports: a manager
    // starting after this one waits for it before opening them.
    watcherStop_.Set();
    if (closeWatcher_.joinable())
        closeWatcher_.join();
    instanceListener_.reset();
}

bool CQMDlg::Init() {
    int err = 0;
    window_ = MessageWindow::Create(ProcessId(), &err);
    if (!window_) {
        std::fprintf(stderr, "QM: cannot create the main window: %s\n", std::strerror(err));
        return false;
    }
    backEnd_ = Outbox::Create(backEndWindow_, kOutboxCapacity, nullptr, &err);
    if (!backEnd_) {
        std::fprintf(stderr, "QM: cannot start the back-end's outbox: %s\n", std::strerror(err));
        return false;
    }

    // Single instance: a manager already running closes on this event.
    SetNamedEvent(kSingleInstanceEvent);
    SleepMs(kInstanceHandOverPause);
    OneShotTimer handOverLimit(kInstanceHandOverLimit);
    instanceListener_ = NamedEventListener::Create(kSingleInstanceEvent, handOverLimit, &err);

    linkStarted_ = StartUp(site_, window_->Handle()) != 0;

    if (!NotifyBackEnd(window_->Handle()))
        LogError("PostMessage Error", 255, 255);

    closeWatcher_ = std::thread(&CQMDlg::CloseWatcher, this);
    return true;
}

void CQMDlg::CloseWatcher() {
    if (!instanceListener_) {
        int err = 0;
        instanceListener_ = NamedEventListener::Create(kSingleInstanceEvent, watcherStop_, &err);
        if (!instanceListener_ && err == ECANCELED)
            return;
        if (!instanceListener_)
            LogError("Close event unavailable: only the back-end's end closes the manager", 255,
                     255);
    }
    BackEndWatch watch(BackEndGoneBoundMs());
    for (;;) {
        // No reset here: the listener was bound before start-up, and a set
        // that came in since (a close asked for while the ports were
        // opening) must still close the manager now that it has started.
        // This manager's own set at start went to the previous holder,
        // before this socket existed.
        const int woken = instanceListener_ ? WaitAny({&watcherStop_, instanceListener_.get()},
                                                      watch.CheckPeriodMs())
                                            : WaitAny({&watcherStop_}, watch.CheckPeriodMs());
        if (woken == 0 || woken == kWaitFailed)
            return;
        if (woken == 1) {
            const uint32_t pid = instanceListener_->LastSetter();
            const std::string name = ProcessName(pid);
            char text[128];
            if (pid == 0)
                std::snprintf(text, sizeof text, "Closed by the close event");
            else if (name.empty())
                std::snprintf(text, sizeof text, "Closed by the close event of process %u", pid);
            else
                std::snprintf(text, sizeof text, "Closed by the close event of process %u (%s)",
                              pid, name.c_str());
            LogError(text, 255, 255);
            AskClose();
            return;
        }
        if (WatchBackEnd(watch)) {
            AskClose();
            return;
        }
    }
}

bool CQMDlg::WatchBackEnd(BackEndWatch& watch) {
    const bool present = WindowExists(backEndWindow_);
    // Only "nobody is bound there" counts as gone (an invalid handle never
    // can be); a failure to look, such as no descriptor left, is no sighting.
    if (!present && errno != ENOENT && errno != ECONNREFUSED && errno != EINVAL)
        return false;
    char text[160];
    switch (watch.Observe(present, MonotonicMs())) {
        case BackEndWatch::Change::kNone:
            return false;
        case BackEndWatch::Change::kGone:
            std::snprintf(text, sizeof text,
                          "Back-end window %u gone: the manager closes unless it is back within "
                          "%lld s",
                          backEndWindow_, static_cast<long long>(watch.BoundMs() / 1000));
            LogError(text, 255, 255);
            return false;
        case BackEndWatch::Change::kBack:
            std::snprintf(text, sizeof text, "Back-end window %u back after %lld s", backEndWindow_,
                          static_cast<long long>(watch.GoneForMs() / 1000));
            LogError(text, 255, 255);
            return false;
        case BackEndWatch::Change::kTooLong:
            std::snprintf(text, sizeof text,
                          "Back-end window %u gone for %lld s: the manager closes", backEndWindow_,
                          static_cast<long long>(watch.GoneForMs() / 1000));
            LogError(text, 255, 255);
            return true;
    }
    return false;
}

void CQMDlg::AskClose() {
    closeAsked_.Set();
    // Wakes a loop that waits on the queue; the close itself is taken ahead
    // of whatever is queued before this message.
    PostMessage(window_->Handle(), kWmClose, 0, 0);
}

bool CQMDlg::CloseDue() const {
    return closeAsked_.IsSet() || (stop_ && WaitAny({stop_}, 0) == 0);
}

bool CQMDlg::DispatchPending() {
    WindowMessage m;
    while (!ended_) {
        // Thousands of messages may be queued behind a stop: it is acted on
        // now, not once they have all been handled.
        if (CloseDue()) {
            OnClose();
            break;
        }
        if (!window_->PeekMessage(&m))
            break;
        Dispatch(m);
    }
    return !ended_;
}

void CQMDlg::RunModalLoop(const Waitable* stop) {
    WatchStop(stop);
    while (!ended_) {
        // The stop first: a queue that is never empty would hide it.
        const int r = stop ? WaitAny({stop, &window_->QueueReady()}, kInfinite)
                           : WaitAny({&window_->QueueReady()}, kInfinite);
        if (stop && r == 0) {
            OnClose();
            return;
        }
        DispatchPending();
    }
}

bool CQMDlg::NotifyBackEnd(int64_t code) {
    if (!backEnd_) {
        errno = ESHUTDOWN;
        return false;
    }
    return backEnd_->Post(WM_POS_NOTICE, 0, code);
}

void CQMDlg::Dispatch(const WindowMessage& m) {
    switch (m.message) {
        case WM_POS_NOTICE:
            OnPosNotice(m.lParam);
            return;
        case WM_REQUEST_RECEIVED:
            OnRequestReceived(m);
            return;
        case WM_TRAY_NOTIFY:
            OnTrayNotify(m.wParam, m.lParam);
            return;
        case kWmClose:
            OnClose();
            return;
        default:
            return;
    }
}

int CQMDlg::OnRequestReceived(const WindowMessage& m) {
    // A datagram from another process carries no request, and the addresses
    // in its parameters must never be followed.
    const RequestNotice* request = service::ReceivedRequest(m);
    if (!request)
        return 1;
    const auto& r = request->record;
    service::SaveRequestFile([this](uint8_t hostId) { return NotifyBackEnd(hostId); }, r.hostId,
                             r.dcbId, r.code, {request->data.data(), r.length});
    return 1;
}

int CQMDlg::OnPosNotice(int64_t code) {
    if (code == QM_NOTICE_SHORT_MESSAGE) {
        LoadShortMessage(site_);
    } else if (code >= 1 && code <= 8) {
        if (!ForwardReply(site_, static_cast<uint8_t>(code)))
            LogError("Send Error", static_cast<uint32_t>(code), 0);
    } else if (code == QM_NOTICE_LOGON) {
        CheckLogonVerdict();
    } else if (code == QM_NOTICE_DATA_READY) {
        if (site_.dataReadyEvent)
            site_.dataReadyEvent->Set();
    } else if (code == QM_NOTICE_OPEN_DOWNLOAD) {
        ui_->ShowDownloadPanel();
    } else {
        LogError("Exception Message", static_cast<uint32_t>(code) & 0xFFu, 0);
    }
    return 1;
}

void CQMDlg::CheckLogonVerdict() {
    if (ReadLogonVerdict(site_) != LogonVerdict::kRejected)
        return;
    ui_->MessageBox("用户名或密码错误,请重试！！");
    // Ask again, as a double-click on the tray icon would.
    PostMessage(window_->Handle(), WM_TRAY_NOTIFY, kTrayIconId, kTrayDoubleClick);
}

int CQMDlg::OnTrayNotify(uint64_t iconId, int64_t mouseMessage) {
    if (iconId != kTrayIconId)
        return 0;
    if (mouseMessage != kTrayDoubleClick)
        return 1;
    ui_->OpenFromTray();
    return 1;
}

void CQMDlg::OnClose() {
    LogError("OnClose", 255, 255);
    ui_->Close();
    ended_ = true;
}

}  // namespace qm
