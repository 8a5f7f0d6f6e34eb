// The clock-and-title reply and short-message delivery.
#include <algorithm>
#include <ctime>
#include <map>

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
    ASSERT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM3", mark, 5); }, 2000));
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

// Terminal 5 is listed under both stations, 1 and 2 under one each; all
// deliveries run side by side. Every message reaches its terminal exactly
// once and in order, whichever station gets there, and every file ends
// deleted with nothing left pending.
TEST_F(ClockAndMessages, ConcurrentDeliveriesStayWholeAcrossStations) {
    Start({{"COM3", {5, 1}}, {"COM4", {5, 2}}});
    const std::vector<uint8_t> ids = {5, 1, 2};
    for (uint8_t id : ids)
        for (uint8_t k = 1; k <= 3; ++k) {
            std::string text = "D" + std::to_string(id) + "M" + std::to_string(k);
            SDKSetSMS(k, id, reinterpret_cast<uint8_t*>(text.data()));
        }
    auto files = [&] {
        return Exists(Home("TXT/Swap/DX_05")) + Exists(Home("TXT/Swap/DX_01")) +
               Exists(Home("TXT/Swap/DX_02"));
    };
    ASSERT_TRUE(WaitUntil([&] { return files() == 0; }, 15000));

    const std::vector<std::pair<std::string, uint8_t>> reached = {
        {"COM3", 5}, {"COM4", 5}, {"COM3", 1}, {"COM4", 2}};
    std::map<uint8_t, std::vector<int>> got;
    for (const auto& [port, id] : reached) {
        int last = 0;
        for (const devsim::ShortMessage& m : Term(port, id).ShortMessages()) {
            EXPECT_GT(m.number, last) << port << " " << int(id);
            last = m.number;
            EXPECT_EQ(m.text, Text("D" + std::to_string(id) + "M" + std::to_string(m.number)));
            got[id].push_back(m.number);
        }
    }
    for (uint8_t id : ids) {
        std::sort(got[id].begin(), got[id].end());
        EXPECT_EQ(got[id], (std::vector<int>{1, 2, 3})) << int(id);
    }
    for (const auto& station : CurrentLink()->stations)
        for (const auto& terminal : station->terminals)
            EXPECT_EQ(terminal->pendingShortMessages.load(), 0u) << int(terminal->dcbId);
}

}  // namespace
}  // namespace qm::test
