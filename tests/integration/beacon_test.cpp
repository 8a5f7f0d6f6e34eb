// Beacons: polling order, dwell and hold, as seen on the line.
#include "tests/integration/traffic_fixture.h"

namespace qm::test {
namespace {

class Beacons : public TrafficFixture {};

TEST_F(Beacons, PollEveryTerminalInTableOrderRoundAfterRound) {
    Start({{"COM3", {1, 2, 3}}});
    ASSERT_TRUE(sim_->WaitFor([&] { return FromManager("COM3").size() >= 7; }, 3000));
    auto recs = Records("COM3", Direction::kFromManager);
    const uint8_t want[] = {1, 2, 3, 1, 2, 3, 1};
    for (size_t i = 0; i < 7; ++i) {
        ASSERT_TRUE(IsBeacon(recs[i].bytes, want[i])) << "frame " << i;
    }
    // A plain beacon answer is no activity: the beacon moves on after one
    // quiet BeaconInterVal counted from the beacon on the line, that is
    // BeaconInterVal plus the write pause after the previous one was queued.
    const int64_t meanGapMs = (recs[6].timeUs - recs[0].timeUs) / 6 / 1000;
    EXPECT_GE(meanGapMs, 105);
    // Each gap is read off the simulator's receive times, which a loaded
    // machine delays by tens of milliseconds one by one: a single gap only
    // shows that the beacon waited at all, the mean shows how long.
    for (size_t i = 1; i < 7; ++i) {
        int64_t gapMs = (recs[i].timeUs - recs[i - 1].timeUs) / 1000;
        EXPECT_GE(gapMs, 50) << "between beacons " << i - 1 << " and " << i;
        // Far below the 3 s an outstanding exchange may take, yet loose
        // enough for a loaded machine.
        EXPECT_LT(gapMs, 1500) << "between beacons " << i - 1 << " and " << i;
    }
}

TEST_F(Beacons, ARequestKeepsTheBeaconUntilItsReplyHasGoneOut) {
    Start({{"COM3", {1, 2, 3}}});
    Term("COM3", 2).QueueRequest(0x0D, Text("0001"));
    auto req = NextRequest(3000);
    ASSERT_TRUE(req);
    const size_t framesAtNotice = FromManager("COM3").size();
    // Without a reply the beacon waits on terminal 2 (up to BeaconTimeout).
    EXPECT_FALSE(sim_->WaitFor([&] { return BeaconSince("COM3", framesAtNotice, 3); }, 600));
    ASSERT_EQ(SDKSendData(2, 1, 0x0D, Text("OK").data(), 2), 1);
    EXPECT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM3", framesAtNotice, 3); }, 1000));
}

TEST_F(Beacons, HoldKeepsPollingATerminalSendingFragmentsOneBeaconAtATime) {
    Start({{"COM3", {1, 2, 3}}});
    devsim::Terminal& t2 = Term("COM3", 2);
    t2.SetFragmentPacing(devsim::FragmentPacing::kAtBeacon);
    const Bytes request = Pattern(140);  // three fragments
    t2.QueueRequest(0x12, request);
    auto req = NextRequest(5000);
    const int64_t noticeUs = devsim::MonotonicUs();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->data, request);
    ASSERT_EQ(SDKSendData(2, 1, 0x12, Text("OK").data(), 2), 1);
    // From the first fragment until the notice, no other terminal is
    // polled: each further fragment came in answer to a beacon to terminal 2.
    int64_t firstFragmentUs = -1;
    for (auto& f : Records("COM3", Direction::kToManager))
        if (f.bytes.size() >= 10) {
            firstFragmentUs = f.timeUs;
            break;
        }
    ASSERT_GE(firstFragmentUs, 0);
    int beaconsTo2 = 0;
    for (auto& f : Records("COM3", Direction::kFromManager)) {
        if (f.timeUs < firstFragmentUs || f.timeUs > noticeUs)
            continue;
        if (IsBeacon(f.bytes, 2))
            ++beaconsTo2;
        EXPECT_FALSE(IsBeacon(f.bytes, 1) || IsBeacon(f.bytes, 3));
    }
    EXPECT_GE(beaconsTo2, 2);
}

TEST_F(Beacons, HoldEndsAfterTenRoundsWhenTheTerminalFallsSilent) {
    Start({{"COM3", {1, 2}}});
    devsim::Terminal& t1 = Term("COM3", 1);
    t1.SetFragmentPacing(devsim::FragmentPacing::kAtBeacon);
    t1.QueueRequest(0x12, Pattern(120));
    // After the first fragment the terminal goes quiet mid-request.
    ASSERT_TRUE(sim_->WaitFor(
        [&] {
            for (auto& f : Records("COM3", Direction::kToManager))
                if (f.bytes.size() >= 10)
                    return true;
            return false;
        },
        2000));
    t1.SetSilent(true);
    const size_t mark = FromManager("COM3").size();
    ASSERT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM3", mark, 2); }, 4000));
    auto f = FromManager("COM3");
    int held = 0;
    for (size_t i = mark; i < f.size() && !IsBeacon(f[i], 2); ++i)
        if (IsBeacon(f[i], 1))
            ++held;
    // The round of the fragment itself plus ten held rounds at most.
    EXPECT_GE(held, 9);
    EXPECT_LE(held, 11);
}

}  // namespace
}  // namespace qm::test
