// The reply road at a busy service: every terminal is answered on its own,
// a refusal says why, and neither a refusal nor a terminal that does not
// acknowledge holds up anybody else.
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

class Replies : public EndToEnd {
  protected:
    // The beacon's wait for an exchange: long, so that a terminal left
    // waiting shows as whole rounds lost.
    static constexpr int kBeaconTimeout = 5000;

    void WriteIni(int beaconTimeout) {
        WriteFile(*home_ / "QM.ini", "[CONFIG]\r\nDebugLevel=4\r\nBeaconTimeout=" +
                                         std::to_string(beaconTimeout) + "\r\n");
    }
    // The terminal asks; the back-end is told about its station.
    void Ask(const char* port, uint8_t dcb, int64_t host) {
        Term(port, dcb).QueueRequest(13, Text("0012"));
        ASSERT_EQ(NextNotice(5000), host);
    }
    void Answer(int64_t host, const std::string& header, const std::string& text) {
        WriteFile(Txt("R" + std::to_string(host) + ".txt"), header + "\r\n" + text + "\r\n");
        ASSERT_TRUE(Notify(host));
    }
    static std::string Slot(const std::string& text) {
        std::string s = text;
        s.resize(20, ' ');
        return s;
    }
    static std::string FirstReply(devsim::Terminal& t) {
        const auto replies = t.Replies();
        return replies.empty() ? "" : std::string(replies[0].data.begin(), replies[0].data.end());
    }
    // Terminal 8 shares station 1 with terminal 7: while the beacon waits
    // on 7, 8 is not polled. A few quick rounds prove nobody is waited for.
    bool StationRoundsAreQuick() {
        devsim::Terminal& t8 = Term("COM3", 8);
        const uint64_t before = t8.Counters().beacons;
        return sim_->WaitFor([&] { return t8.Counters().beacons >= before + 4; }, 4000);
    }
};

TEST_F(Replies, EveryTerminalIsAnsweredWhoeverAskedSince) {
    WriteIni(500);
    StartManager();
    Ask("COM3", 7, 1);
    Ask("COM4", 12, 2);
    // Terminal 8 is polled once the beacon has given up waiting on 7.
    Ask("COM3", 8, 1);
    Answer(1, "KT   007", "FOR SEVEN");
    devsim::Terminal &t7 = Term("COM3", 7), &t8 = Term("COM3", 8), &t12 = Term("COM4", 12);
    ASSERT_TRUE(sim_->WaitFor([&] { return !t7.Replies().empty(); }, 5000));
    Answer(2, "KT   012", "FOR TWELVE");
    Answer(1, "kt   008", "FOR EIGHT");
    ASSERT_TRUE(
        sim_->WaitFor([&] { return !t8.Replies().empty() && !t12.Replies().empty(); }, 5000));
    EXPECT_EQ(FirstReply(t7), Slot("FOR SEVEN"));
    EXPECT_EQ(FirstReply(t8), Slot("FOR EIGHT"));
    EXPECT_EQ(FirstReply(t12), Slot("FOR TWELVE"));
    EXPECT_EQ(CountLogLines("Reply refused"), 0);
}

TEST_F(Replies, ARefusalSaysWhyAndTheStationGoesOn) {
    WriteIni(kBeaconTimeout);
    StartManager();
    Ask("COM3", 7, 1);
    // The back-end names a terminal that asked nothing.
    Answer(1, "KT   008", "WRONG TERMINAL");
    ASSERT_TRUE(
        WaitUntil([] { return CountLogLines("(HostID 001  DCBID 000)Send Error") == 1; }, 5000));
    EXPECT_EQ(
        CountLogLines("(HostID 001  DCBID 008)Reply refused (KT  ): no request from that terminal"),
        1);
    EXPECT_EQ(CountLogLines("(HostID 001  DCBID 000)SDKGetRxFile Error"), 1);
    EXPECT_TRUE(StationRoundsAreQuick()) << "the beacon still waits on terminal 7";
    EXPECT_TRUE(Term("COM3", 8).Replies().empty());
}

TEST_F(Replies, ATerminalsShortMessageWaitsForNoReply) {
    WriteIni(kBeaconTimeout);
    StartManager();
    // Code 28: a message to the back-end, acknowledged at once; no reply to
    // it can ever be sent.
    Term("COM3", 7).QueueRequest(28, Text("001HELLO KITCHEN"));
    ASSERT_EQ(NextNotice(5000), 1);
    EXPECT_TRUE(StationRoundsAreQuick()) << "the beacon waits on terminal 7 for a reply";
}

TEST_F(Replies, AReplyNeverAcknowledgedEndsItsExchangeAndHoldsUpNobody) {
    WriteIni(kBeaconTimeout);
    StartManager();
    devsim::Terminal &t7 = Term("COM3", 7), &t12 = Term("COM4", 12);
    Ask("COM3", 7, 1);
    Ask("COM4", 12, 2);
    // Every sending of 7's reply goes unacknowledged (RetryTimes 5, 500 ms
    // apart); the window goes on with the next notice meanwhile.
    t7.WithholdAcks(5);
    Answer(1, "KT   007", "UNHEARD");
    Answer(2, "KT   012", "FOR TWELVE");
    ASSERT_TRUE(sim_->WaitFor([&] { return !t12.Replies().empty(); }, 5000));
    EXPECT_EQ(CountLogLines("Send Error"), 0) << "12's reply waited for 7's retries";
    ASSERT_TRUE(
        WaitUntil([] { return CountLogLines("(HostID 001  DCBID 000)Send Error") == 1; }, 8000));
    EXPECT_TRUE(StationRoundsAreQuick()) << "the beacon still waits on terminal 7";
}

}  // namespace
}  // namespace qm::test
