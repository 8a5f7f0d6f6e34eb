// The main window: owner of the site, the window-message handlers of the
// bridge, the single-instance rule and the close watcher.
//
// The window's behaviour lives here, free of any toolkit, so it runs the
// same with or without a display. What needs a screen (the logon dialog, the
// panels, message boxes) goes through WindowUi; without a display the
// headless UI writes a log line instead. Any main loop can drive the window:
// wait on QueueReady() and call DispatchPending().
//
// Every notice to the back-end (the window's handle at start, the request
// notices, the logon's 10 and the download's 11) goes through one outbox, in
// order, so the window's thread never waits for a busy back-end. A stop or
// a close asked for is acted on between two messages, ahead of whatever is
// still queued.
//
// The close watcher thread closes the window when the named event
// "__QM_MUTEXT" is set (logging which process set it), and when the
// back-end's window has been gone for the bound of BackEndWatch.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/back_end_watch.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/outbox.h"
#include "platform/window_message.h"
#include "site/site_context.h"

namespace qm {

inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kTrayIconId = 3000;
inline constexpr int64_t kTrayDoubleClick = 515;
inline constexpr const char* kSingleInstanceEvent = "__QM_MUTEXT";

// What the window needs from a screen.
class WindowUi {
  public:
    virtual ~WindowUi() = default;
    // The tray double-click: show the window and ask for the operator logon.
    virtual void OpenFromTray() = 0;
    // Notice 12: show the window with its download panel.
    virtual void ShowDownloadPanel() = 0;
    // A modal message box with an OK button.
    virtual void MessageBox(const char* text) = 0;
    // The window closes: the tray icon goes, and a logon dialog that is up
    // gets its OK action.
    virtual void Close() = 0;
};

// Without a display nothing can be shown: each request is logged.
class HeadlessUi final : public WindowUi {
  public:
    void OpenFromTray() override;
    void ShowDownloadPanel() override;
    void MessageBox(const char* text) override;
    void Close() override {}
};

class CQMDlg {
  public:
    CQMDlg(uint32_t backEndWindow, std::unique_ptr<WindowUi> ui);
    // The shut-down: stops the link, then the close watcher.
    ~CQMDlg();
    CQMDlg(const CQMDlg&) = delete;
    CQMDlg& operator=(const CQMDlg&) = delete;

    // The window's initialisation; false when the window cannot exist.
    bool Init();
    // Handles every queued message; false once the window has ended. Before
    // each message it looks at the stop (WatchStop) and at a close asked for
    // by the close watcher, and closes the window at once for either.
    bool DispatchPending();
    const Waitable& QueueReady() const { return window_->QueueReady(); }
    // Runs until the window ends or stop is released (then as a close).
    void RunModalLoop(const Waitable* stop);
    // The stop (may be null) that DispatchPending looks at; a loop of its
    // own (the Qt loop) still watches it too, for when nothing is queued.
    void WatchStop(const Waitable* stop) { stop_ = stop; }

    // Posts WM_POS_NOTICE with the code to the back-end's window, behind
    // every earlier notice and without waiting. False when it was refused
    // (errno as Outbox::Post; ENOBUFS is logged by the outbox).
    bool NotifyBackEnd(int64_t code);

    WindowHandle Handle() const { return window_ ? window_->Handle() : 0; }
    SiteContext& Site() { return site_; }
    bool Ended() const { return ended_; }

    // Message handlers.
    int OnPosNotice(int64_t code);
    int OnRequestReceived(const WindowMessage& message);
    int OnTrayNotify(uint64_t iconId, int64_t mouseMessage);
    void OnClose();
    void CheckLogonVerdict();

  private:
    void Dispatch(const WindowMessage& message);
    bool CloseDue() const;
    void CloseWatcher();
    // One look at the back-end's window; true when it has been gone too long.
    bool WatchBackEnd(BackEndWatch& watch);
    // From the close watcher: the window closes ahead of what is queued.
    void AskClose();

    const uint32_t backEndWindow_;
    SiteContext site_;
    std::unique_ptr<MessageWindow> window_;
    std::unique_ptr<Outbox> backEnd_;
    bool ended_ = false;
    const Waitable* stop_ = nullptr;
    Event closeAsked_{Event::Mode::kManualReset, false, Event::Reach::kInProcess};

    Event watcherStop_{Event::Mode::kManualReset, false};
    std::unique_ptr<NamedEventListener> instanceListener_;
    std::thread closeWatcher_;
    bool linkStarted_ = false;
    // Last, so that what the screen shows (the panels reading the site) goes
    // after the link has stopped and before the site does.
    std::unique_ptr<WindowUi> ui_;
};

}  // namespace qm
