// The transmit path: short and long replies, paging, retries.
#include "tests/integration/traffic_fixture.h"

#include <future>
#include <system_error>

#include "platform/clock.h"

namespace qm::test {
namespace {

class Transmit : public TrafficFixture {
  protected:
    // Starts one station with terminal 7 and has it ask something, so that a
    // reply is expected.
    void StartWithRequest() {
        Start({{"COM3", {7}}});
        Term("COM3", 7).QueueRequest(0x1A, Text("0001"));
        ASSERT_TRUE(NextRequest(3000));
    }

    std::vector<Bytes> DataTo(uint8_t id) {
        std::vector<Bytes> out;
        for (auto& f : FromManager("COM3"))
            if (IsData(f, id))
                out.push_back(f);
        return out;
    }
    std::string Spill() { return Home("TXT/Swap/Swap_07_01"); }
};

TEST_F(Transmit, FiftyBytesGoAsOneFrameAndFiftyOneFromASpillFile) {
    StartWithRequest();
    Bytes reply = Pattern(50);
    ASSERT_EQ(SDKSendData(7, 1, 0x1A, reply.data(), 50), 1);
    auto data = DataTo(7);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].size(), 60u);
    EXPECT_EQ(data[0][3], 0x1A);
    EXPECT_EQ(data[0][6], 1);  // N
    EXPECT_EQ(data[0][7], 1);  // k
    EXPECT_FALSE(Exists(Spill()));
    auto replies = Term("COM3", 7).Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].data, reply);

    // 51 bytes are spilled to a file and sent as two fragments.
    Term("COM3", 7).QueueRequest(0x1A, Text("0002"));
    ASSERT_TRUE(NextRequest(3000));
    reply = Pattern(51);
    ASSERT_EQ(SDKSendData(7, 1, 0x1A, reply.data(), 51), 1);
    EXPECT_EQ(ReadFile(Spill()), std::string(reply.begin(), reply.end()));
    data = DataTo(7);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[1][6], 2);
    EXPECT_EQ(data[1][7], 1);
    EXPECT_EQ(data[2][6], 2);
    EXPECT_EQ(data[2][7], 2);
    EXPECT_EQ(data[2].size(), 11u);
}

TEST_F(Transmit, LongRepliesArePagedOnTheTerminalsRequest) {
    StartWithRequest();
    devsim::Terminal& t = Term("COM3", 7);
    t.SetAutoPaging(false);
    Bytes reply = Pattern(450);
    ASSERT_EQ(SDKSendData(7, 1, 0x1A, reply.data(), 450), 1);
    auto ks = [&] {
        std::vector<int> out;
        for (auto& f : DataTo(7)) out.push_back(f[7]);
        return out;
    };
    EXPECT_EQ(ks(), (std::vector<int>{1, 2, 3, 4}));
    for (auto& f : DataTo(7)) EXPECT_EQ(f[6], 9);

    t.QueuePageRequest(true);
    ASSERT_TRUE(sim_->WaitFor([&] { return DataTo(7).size() == 8; }, 3000));
    t.QueuePageRequest(true);
    ASSERT_TRUE(sim_->WaitFor([&] { return DataTo(7).size() == 9; }, 3000));
    EXPECT_EQ(ks(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(DataTo(7)[8].size(), 60u);  // 450 - 400 = 50 bytes

    // Nothing lies beyond the last page.
    t.QueuePageRequest(true);
    ASSERT_TRUE(sim_->WaitFor([&] { return t.PendingItems() == 0; }, 2000));
    EXPECT_FALSE(sim_->WaitFor([&] { return DataTo(7).size() > 9; }, 500));

    t.QueuePageRequest(false);
    ASSERT_TRUE(sim_->WaitFor([&] { return DataTo(7).size() == 13; }, 3000));
    auto k = ks();
    EXPECT_EQ(std::vector<int>(k.begin() + 9, k.end()), (std::vector<int>{5, 6, 7, 8}));

    // The spill file gone, a page request fails and the page stays where it was.
    std::filesystem::remove(Spill());
    TerminalLink& link7 = *CurrentLink()->stations[0]->terminals[0];
    const uint32_t page = link7.Reply().pageIndex;
    t.QueuePageRequest(true);
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("SendDataFrame len=0 Error") == 1; }, 3000));
    EXPECT_EQ(link7.Reply().pageIndex, page);
    EXPECT_EQ(DataTo(7).size(), 13u);
}

TEST_F(Transmit, OnePageSenderAtATimeAndNothingBeyondTheLastPage) {
    StartWithRequest();
    devsim::Terminal& t = Term("COM3", 7);
    devsim::Station& com3 = *sim_->FindStation("COM3");
    const Event& idle = CurrentLink()->stations[0]->terminals[0]->idle;
    t.SetAutoPaging(false);
    t.WithholdAcks(1);
    const Bytes reply = Pattern(400);  // 8 fragments: two full pages
    auto send = std::async(std::launch::async,
                           [&] { return SDKSendData(7, 1, 0x1A, Bytes(reply).data(), 400); });
    // A page forward while page 0 is still going out is ignored...
    ASSERT_TRUE(sim_->WaitFor([&] { return DataTo(7).size() == 1; }, 2000));
    com3.InjectRaw(devsim::ControlFrame(7, 0x04));
    ASSERT_EQ(send.get(), 1);
    // ...and so is a page back while page 1 is going out.
    Bytes forwardBack = devsim::ControlFrame(7, 0x04);
    Bytes back = devsim::ControlFrame(7, 0x03);
    forwardBack.insert(forwardBack.end(), back.begin(), back.end());
    com3.InjectRaw(forwardBack);
    ASSERT_TRUE(WaitUntil([&] { return DataTo(7).size() >= 9 && idle.IsSet(); }, 3000));
    // Page 1 is the last: forward is ignored, back gives page 0 again.
    com3.InjectRaw(forwardBack);
    ASSERT_TRUE(sim_->WaitFor([&] { return DataTo(7).size() >= 13; }, 3000));
    std::vector<int> ks;
    for (auto& f : DataTo(7)) ks.push_back(f[7]);
    EXPECT_EQ(ks, (std::vector<int>{1, 1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4}));
    EXPECT_EQ(CountLogLines("SendDataFrame len=0 Error"), 0);
}

TEST_F(Transmit, WithoutRetriesAReplyIsQueuedAndLeavesWithTheNextBeacon) {
    StartWithRequest();
    SDKSetParam(0, 500, 100);
    EXPECT_EQ(SDKSendData(7, 1, 0x1A, Text("HELLO").data(), 5), 0);
    EXPECT_EQ(CountLogLines("SendMACFrame Ack Timeout"), 1);
    devsim::Terminal& t = Term("COM3", 7);
    ASSERT_TRUE(sim_->WaitFor([&] { return !t.Replies().empty(); }, 3000));
    EXPECT_EQ(t.Replies()[0].data, Text("HELLO"));
}

TEST_F(Transmit, DeInitDuringASendEndsItAtOnceWithoutATimeout) {
    StartWithRequest();
    Term("COM3", 7).SetSilent(true);
    auto send = std::async(std::launch::async,
                           [] { return SDKSendData(7, 1, 0x1A, Text("HELLO").data(), 5); });
    ASSERT_TRUE(sim_->WaitFor([&] { return !DataTo(7).empty(); }, 2000));
    const int64_t start = MonotonicMs();
    SDKDeInit();
    EXPECT_LT(MonotonicMs() - start, 1000);  // the unanswered send alone lasts 2500 ms
    EXPECT_EQ(send.get(), 0);
    EXPECT_EQ(CountLogLines("SendMACFrame Ack Timeout"), 0);
}

TEST_F(Transmit, AWorkerThatCannotStartIsLoggedAndTheHandlerGoesOn) {
    Start({{"COM3", {7}}});
    CurrentLink()->workers.SetStarter([](std::function<void()>) -> std::thread {
        throw std::system_error(EAGAIN, std::generic_category(), "no threads left");
    });
    devsim::Terminal& t = Term("COM3", 7);
    t.QueueClockRequest();  // answered through a retry worker
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("Worker thread not started") == 1; }, 3000));
    t.QueueRequest(0x0D, Text("0002"));
    auto req = NextRequest(3000);
    ASSERT_TRUE(req);
    EXPECT_EQ(req->data, Text("0002"));
}

TEST_F(Transmit, AnUnacknowledgedReplyIsSentRetryTimesThenFails) {
    StartWithRequest();
    Term("COM3", 7).WithholdAcks(100);
    const int64_t start = MonotonicMs();
    EXPECT_EQ(SDKSendData(7, 1, 0x1A, Text("HELLO").data(), 5), 0);
    const int64_t took = MonotonicMs() - start;
    EXPECT_GE(took, 5 * 500 - 50);
    auto data = Records("COM3", Direction::kFromManager);
    std::vector<int64_t> times;
    for (auto& f : data)
        if (IsData(f.bytes, 7))
            times.push_back(f.timeUs / 1000);
    ASSERT_EQ(times.size(), 5u);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 490);
        EXPECT_LT(times[i] - times[i - 1], 800);
    }
    EXPECT_EQ(CountLogLines("SendMACFrame Ack Timeout"), 1);
    // No sixth copy is left queued to go out with the next frame.
    EXPECT_FALSE(sim_->WaitFor(
        [&] {
            int n = 0;
            for (auto& f : FromManager("COM3")) n += IsData(f, 7);
            return n > 5;
        },
        700));
}

TEST_F(Transmit, AnAcknowledgementDuringTheThirdWaitEndsItAtOnce) {
    StartWithRequest();
    Term("COM3", 7).WithholdAcks(2);
    const int64_t start = MonotonicMs();
    EXPECT_EQ(SDKSendData(7, 1, 0x1A, Text("HELLO").data(), 5), 1);
    EXPECT_LT(MonotonicMs() - start, 1500);
    int n = 0;
    for (auto& f : FromManager("COM3")) n += IsData(f, 7);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(CountLogLines("SendMACFrame Ack Timeout"), 0);
}

TEST_F(Transmit, UnknownStationsAndTerminalsAreRefused) {
    StartWithRequest();
    EXPECT_EQ(SDKSendData(7, 5, 0x1A, Text("X").data(), 1), 0);
    EXPECT_EQ(SDKSendData(8, 1, 0x1A, Text("X").data(), 1), 0);
    EXPECT_EQ(CountLogLines("(HostID 005  DCBID 255)Invalid host id"), 1);
    EXPECT_EQ(CountLogLines("(HostID 255  DCBID 008)Invalid Dcb id"), 1);
}

}  // namespace
}  // namespace qm::test
