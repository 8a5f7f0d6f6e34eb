// Misbehaving devices and a full disk: the link keeps serving, reports what
// it could not do and keeps no thread busy.
#include <sys/resource.h>

#include <random>

#include "tests/integration/traffic_fixture.h"

namespace qm::test {
namespace {

class Faults : public TrafficFixture {
  protected:
    // The next request notice from the station with this host id.
    std::optional<ReceivedRequest> NextFrom(uint8_t hostId, uint32_t timeoutMs) {
        const int64_t end = MonotonicMs() + timeoutMs;
        for (int64_t left = timeoutMs; left > 0; left = end - MonotonicMs()) {
            auto r = NextRequest(static_cast<uint32_t>(left));
            if (!r || r->record.hostId == hostId)
                return r;
        }
        return std::nullopt;
    }
    static int64_t CpuUs() {
        rusage r{};
        getrusage(RUSAGE_SELF, &r);
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    }
};

TEST_F(Faults, AStationSpewingGarbageHarmsNoOneAndLeavesNoThreadBusy) {
    Start({{"COM3", {4}}, {"COM4", {5}}});
    devsim::Station& com3 = *sim_->FindStation("COM3");
    std::mt19937 random(12);
    Term("COM4", 5).QueueRequest(0x0D, Text("0001"));
    // Random bytes hold frame markers, overlong frames and end-start pairs.
    std::optional<ReceivedRequest> other;
    for (int burst = 0; burst < 50; ++burst) {
        Bytes junk(4096);
        for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
        junk[100] = 0xFF;
        junk[101] = 0x00;
        com3.InjectRaw(junk);
        if (!other)
            other = NextFrom(2, 20);
    }
    ASSERT_TRUE(other) << "the other station must be served meanwhile";
    EXPECT_EQ(other->data, Text("0001"));

    // Once the garbage stops, the station's own terminal is served.
    Term("COM3", 4).QueueRequest(0x12, Pattern(120));
    auto own = NextFrom(1, 5000);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->data, Pattern(120));

    const int64_t before = CpuUs(), since = MonotonicMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // measuring, not waiting
    // Two stations beaconing cost little; a thread spinning on what the
    // garbage left behind would burn the whole stretch.
    EXPECT_LT(CpuUs() - before, (MonotonicMs() - since) * 1000 * 3 / 10);
}

TEST_F(Faults, AFullSwapDiskIsReportedAndNothingIsHalfStored) {
    Start({{"COM3", {7}}});
    devsim::Terminal& t7 = Term("COM3", 7);
    t7.QueueRequest(0x1A, Text("0001"));
    ASSERT_TRUE(NextRequest(3000));
    Bytes reply = Pattern(600);
    int sent = 1;
    WithFileSizeLimit(300, [&] { sent = SDKSendData(7, 1, 0x1A, reply.data(), 600); });
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(CountLogLines("(HostID 001  DCBID 007)SaveSendData Open File Error"), 1);
    // The terminal pages on: no piece of the failed reply may answer it.
    sim_->FindStation("COM3")->InjectRaw(devsim::ControlFrame(7, 0x04));
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("SendDataFrame len=0 Error") == 1; }, 3000));
    EXPECT_TRUE(t7.Fragments().empty());

    // Every write to /dev/full fails with ENOSPC.
    const std::string messages = Home("TXT/Swap/DX_07");
    std::filesystem::create_symlink("/dev/full", messages);
    uint8_t lost[] = "LOST", kept[] = "KEPT";
    SDKSetSMS(1, 7, lost);
    EXPECT_EQ(CountLogLines("SDKSetSMS Write Error"), 1);
    EXPECT_EQ(CurrentLink()->stations[0]->terminals[0]->pendingShortMessages.load(), 0u);

    // With room again, the next reply and message go out whole.
    std::filesystem::remove(messages);
    EXPECT_EQ(SDKSendData(7, 1, 0x1A, reply.data(), 600), 1);
    ASSERT_TRUE(sim_->WaitFor([&] { return !t7.Replies().empty(); }, 8000));
    EXPECT_EQ(t7.Replies().back().data, reply);
    SDKSetSMS(2, 7, kept);
    ASSERT_TRUE(sim_->WaitFor([&] { return !t7.ShortMessages().empty(); }, 5000));
    EXPECT_EQ(t7.ShortMessages()[0].payload, Text("002KEPT"));
}

}  // namespace
}  // namespace qm::test
