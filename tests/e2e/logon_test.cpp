// The main window's handlers in this process, for what only its state shows:
// the logon word a successful "DL" reply sets, and a stop or a close taken
// ahead of the queue.
#include "app/qm_dlg.h"
#include "platform/named_event.h"
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

class WindowInProcess : public EndToEnd {
  protected:
    // Handles the window's messages until pred holds; bounded.
    bool PumpUntil(CQMDlg& dlg, const std::function<bool()>& pred, int timeoutMs) {
        const int64_t end = MonotonicMs() + timeoutMs;
        while (!pred()) {
            const int64_t left = end - MonotonicMs();
            if (left <= 0)
                return false;
            WaitAny({&dlg.QueueReady()}, static_cast<uint32_t>(std::min<int64_t>(left, 50)));
            dlg.DispatchPending();
        }
        return true;
    }
};

TEST_F(WindowInProcess, ASuccessfulLogonReplyMarksTheTerminalLoggedOn) {
    CQMDlg dlg(kWindow, std::make_unique<HeadlessUi>());
    ASSERT_TRUE(dlg.Init());
    ASSERT_EQ(NextNotice(3000), static_cast<int64_t>(dlg.Handle()));
    SiteContext& site = dlg.Site();
    ASSERT_EQ(site.stationCount, 2u);

    // Terminal 8 on host 1 logs on: user, password, terminal fields.
    devsim::Terminal& t8 = Term("COM3", 8);
    t8.QueueRequest(29, Text("waiter1   123400000008"));
    std::optional<int64_t> notice;
    ASSERT_TRUE(PumpUntil(
        dlg, [&] { return (notice = NextNotice(0)).has_value(); }, 5000));
    EXPECT_EQ(*notice, 1);
    EXPECT_EQ(ReadFile(Txt("T1.txt")), "DL   008\r\nwaiter1    1234 00000008\r\n");

    WriteFile(Txt("R1.txt"), "DL   008\r\n1 waiter1\r\n");
    ASSERT_TRUE(PostMessage(dlg.Handle(), WM_POS_NOTICE, 0, 1));
    ASSERT_TRUE(PumpUntil(
        dlg, [&] { return !t8.Replies().empty(); }, 5000));
    const devsim::Reply reply = t8.Replies()[0];
    EXPECT_EQ(reply.command, 29);
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), "\x01waiter1   ");
    EXPECT_EQ(site.stations[0].dcbState[1], 1) << "terminal 8 is the second of host 1";
    EXPECT_EQ(site.stations[0].dcbState[0], 0);

    // A rejected logon leaves the word as it is.
    devsim::Terminal& t7 = Term("COM3", 7);
    t7.QueueRequest(29, Text("nobody    000000000007"));
    ASSERT_TRUE(PumpUntil(
        dlg, [&] { return (notice = NextNotice(0)).has_value(); }, 5000));
    WriteFile(Txt("R1.txt"), "DL   007\r\n0 wrong password\r\n");
    ASSERT_TRUE(PostMessage(dlg.Handle(), WM_POS_NOTICE, 0, 1));
    ASSERT_TRUE(PumpUntil(
        dlg, [&] { return !t7.Replies().empty(); }, 5000));
    EXPECT_EQ(site.stations[0].dcbState[0], 0);
}

TEST_F(WindowInProcess, ARequestNoticeWithoutItsCopyIsIgnored) {
    CQMDlg dlg(kWindow, std::make_unique<HeadlessUi>());
    ASSERT_TRUE(dlg.Init());
    ASSERT_TRUE(NextNotice(3000));
    // As from another process: addresses without the notice's own copy.
    ASSERT_TRUE(PostMessage(dlg.Handle(), WM_REQUEST_RECEIVED, 0x10, 0x20));
    ASSERT_TRUE(PostMessage(dlg.Handle(), WM_POS_NOTICE, 0, 200));
    ASSERT_TRUE(PumpUntil(
        dlg, [] { return CountLogLines("Exception Message") == 1; }, 3000));
    EXPECT_FALSE(Exists(Txt("T1.txt")));
    EXPECT_FALSE(NextNotice(100));
}

// Thousands of messages queued, then a stop or a close: the window closes
// before it handles any of them.
TEST_F(WindowInProcess, AStopOrACloseIsTakenAheadOfWhatIsQueued) {
    for (const bool signal : {true, false}) {
        SCOPED_TRACE(signal ? "stop" : "close event");
        std::filesystem::remove("QMLog.txt");
        CQMDlg dlg(kWindow, std::make_unique<HeadlessUi>());
        ASSERT_TRUE(dlg.Init());
        ASSERT_TRUE(NextNotice(3000));
        for (int i = 0; i < 5000; ++i)
            ASSERT_TRUE(PostMessage(dlg.Handle(), WM_POS_NOTICE, 0, 200));
        Event stop(Event::Mode::kManualReset, signal);
        if (!signal) {
            ASSERT_TRUE(SetNamedEvent("__QM_MUTEXT"));
            ASSERT_TRUE(
                WaitUntil([] { return CountLogLines("Closed by the close event") == 1; }, 5000));
        }
        dlg.RunModalLoop(&stop);
        EXPECT_TRUE(dlg.Ended());
        EXPECT_EQ(CountLogLines("OnClose"), 1);
        EXPECT_EQ(CountLogLines("Exception Message"), 0);
    }
}

}  // namespace
}  // namespace qm::test
