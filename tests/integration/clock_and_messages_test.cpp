// The clock-and-title reply and short-message delivery.
#include <ctime>

#include "tests/integration/traffic_fixture.h"

namespace qm::test {
namespace {

class ClockAndMessages : public TrafficFixture {};

TEST_F(ClockAndMessages, ClockRequestGetsTheStampAndTheCentredTitle) {
    uint8_t title[] = {'A', 'B', 'C'};
    SDKSetHotelTitle(title, 3);
    Start({{"COM3", {2}}});
    devsim::Terminal& t = Term("COM3", 2);
    t.QueueClockRequest();
    ASSERT_TRUE(sim_->WaitFor([&] { return !t.Replies().empty(); }, 3000));
    const devsim::Reply r = t.Replies()[0];
    EXPECT_EQ(r.command, 0x05);
    ASSERT_EQ(r.data.size(), 33u);
    const std::string stamp(r.data.begin(), r.data.begin() + 13);
    for (char c : stamp) EXPECT_TRUE(c >= '0' && c <= '9') << stamp;
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char ymd[48];
    std::snprintf(ymd, sizeof ymd, "%02d%d%02d", local.tm_year % 100, local.tm_wday,
                  local.tm_mon + 1);
    EXPECT_EQ(stamp.substr(0, 5), ymd);
    EXPECT_EQ(std::string(r.data.begin() + 13, r.data.end()),
              std::string(8, ' ') + "ABC" + std::string(9, ' '));
    // The clock request is answered by the link: no notice reaches the window.
    EXPECT_FALSE(NextRequest(200));
}

TEST_F(ClockAndMessages, QueuedShortMessagesAreDeliveredOneByOne) {
    Start({{"COM3", {1, 5}}});
    const std::string file = Home("TXT/Swap/DX_05");
    uint8_t hello[] = "HELLO", second[] = "SECOND", third[] = "THIRD";
    SDKSetSMS(7, 5, hello);
    SDKSetSMS(8, 5, second);
    SDKSetSMS(9, 5, third);
    const std::string all = std::string("\x07HELLO\r\n\x08SECOND\r\n\x09THIRD\r\n");
    devsim::Terminal& t = Term("COM3", 5);

    ASSERT_TRUE(sim_->WaitFor([&] { return t.ShortMessages().size() >= 1; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(file) == all.substr(8); }, 2000))
        << "the first record is removed after its acknowledgement";
    ASSERT_TRUE(sim_->WaitFor([&] { return t.ShortMessages().size() >= 2; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(file) == all.substr(17); }, 2000));
    ASSERT_TRUE(sim_->WaitFor([&] { return t.ShortMessages().size() >= 3; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(file); }, 2000));

    auto msgs = t.ShortMessages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].payload, Text("007HELLO"));
    EXPECT_EQ(msgs[1].payload, Text("008SECOND"));
    EXPECT_EQ(msgs[2].payload, Text("009THIRD"));
    EXPECT_GE(t.Counters().messageBeacons, 3u);
    EXPECT_EQ(CurrentLink()->stations[0]->terminals[1]->pendingShortMessages.load(), 0u);
    // With nothing pending, plain beacons again.
    const size_t mark = FromManager("COM3").size();
    ASSERT_TRUE(sim_->WaitFor(
        [&] {
            auto f = FromManager("COM3");
            for (size_t i = mark; i < f.size(); ++i)
                if (IsBeacon(f[i], 5)) return true;
            return false;
        },
        2000));
    EXPECT_EQ(t.ShortMessages().size(), 3u);
}

TEST_F(ClockAndMessages, MessageNumbersThatAreLineEndsSurviveTheFile) {
    Start({{"COM3", {5}}});
    uint8_t a[] = "LF", b[] = "CR", c[] = "NUL";
    SDKSetSMS(10, 5, a);
    SDKSetSMS(13, 5, b);
    SDKSetSMS(0, 5, c);
    devsim::Terminal& t = Term("COM3", 5);
    ASSERT_TRUE(sim_->WaitFor([&] { return t.ShortMessages().size() >= 3; }, 5000));
    auto msgs = t.ShortMessages();
    EXPECT_EQ(msgs[0].payload, Text("010LF"));
    EXPECT_EQ(msgs[1].payload, Text("013CR"));
    EXPECT_EQ(msgs[2].payload, Text("000NUL"));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(Home("TXT/Swap/DX_05")); }, 2000));
}

TEST_F(ClockAndMessages, AnUnacknowledgedMessageStaysFirstAndIsAnnouncedAgain) {
    SDKSetParam(2, 3000, 100);
    Start({{"COM3", {5}}});
    devsim::Terminal& t = Term("COM3", 5);
    t.WithholdAcks(2);  // the whole first delivery (two sendings) goes unanswered
    uint8_t text[] = "KEEP";
    SDKSetSMS(1, 5, text);
    ASSERT_TRUE(sim_->WaitFor([&] { return t.ShortMessages().size() >= 1; }, 6000));
    ASSERT_TRUE(WaitUntil([&] { return !Exists(Home("TXT/Swap/DX_05")); }, 2000));
    EXPECT_GE(t.Counters().messageBeacons, 2u);
}

}  // namespace
}  // namespace qm::test
