// The simulated terminals seen from the manager's end of the line: the test
// opens <home>/ports/COM3 itself, writes what the manager would write and
// checks what comes back.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <string>

#include "tests/common/test_support.h"
#include "tests/devsim/manager_line.h"
#include "tools/devsim/device_simulator.h"

namespace qm::devsim {
namespace {

using qm::test::TempDir;
using test::ManagerLine;

constexpr uint8_t kDcb = 12;
constexpr uint8_t kOrder = 0x0D;
// Longer than any wait of the manager for an answer (100 ms), so that a
// terminal that has not spoken by then is taken as silent.
constexpr int kQuietMs = 150;

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes Pattern(size_t n) {
    Bytes bytes;
    for (size_t i = 0; i < n; ++i) {
        bytes.push_back(static_cast<uint8_t>('A' + i % 26));
    }
    return bytes;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t length) {
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                 bytes.begin() + static_cast<ptrdiff_t>(from + length));
}

class TerminalLine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(home_.path().empty());
        ASSERT_TRUE(com3_.Ok()) << com3_.Error();
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(line_.Open(home_.path() + "/ports/COM3"));
    }

    // Writes `frame` and returns the one frame that answers it.
    Bytes Exchange(const Bytes& frame) {
        EXPECT_TRUE(line_.Write(frame));
        auto answer = line_.ReadFrame();
        EXPECT_TRUE(answer.has_value()) << "no answer";
        return answer.value_or(Bytes{});
    }

    // The reply fragment from the manager, and the terminal's ack of it.
    void SendReplyFragment(uint8_t total, uint8_t number, const Bytes& payload) {
        EXPECT_EQ(Exchange(DataFrame(kDcb, kOrder, total, number, payload)),
                  ControlFrame(kDcb, kCmdAck))
            << "fragment " << int{number};
    }

    TempDir home_;
    DeviceSimulator sim_{home_.path()};
    Station& com3_ = sim_.AddStation("COM3");
    Terminal& t12_ = com3_.AddTerminal(kDcb);
    ManagerLine line_;
};

TEST_F(TerminalLine, BeaconIsEchoedOnlyByItsTerminal) {
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    EXPECT_EQ(t12_.Counters().beacons, 1u);
    ASSERT_TRUE(line_.Write(BeaconFrame(13)));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
}

TEST_F(TerminalLine, LongRequestGoesOutFragmentByFragmentAsAcksCome) {
    const Bytes request = Pattern(120);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, request));

    const Bytes first = Exchange(BeaconFrame(kDcb));
    EXPECT_EQ(first, DataFrame(kDcb, kOrder, 3, 1, Slice(request, 0, 50)));
    ASSERT_EQ(first.size(), 60u);
    EXPECT_EQ(first[5], 52);  // L = n + 2
    EXPECT_EQ(first[6], 3);   // N
    EXPECT_EQ(first[7], 1);   // k
    // Nothing more until the manager has acknowledged.
    EXPECT_TRUE(line_.QuietFor(kQuietMs));

    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdAck)),
              DataFrame(kDcb, kOrder, 3, 2, Slice(request, 50, 50)));
    const Bytes last = Exchange(ControlFrame(kDcb, kCmdAck));
    EXPECT_EQ(last, DataFrame(kDcb, kOrder, 3, 3, Slice(request, 100, 20)));
    EXPECT_EQ(last.size(), 30u);
    EXPECT_EQ(t12_.PendingItems(), 0u);
    // The request is complete: the next beacon finds nothing to say.
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, FragmentsCanWaitForTheNextBeacon) {
    t12_.SetFragmentPacing(FragmentPacing::kAtBeacon);
    const Bytes request = Pattern(60);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, request));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), DataFrame(kDcb, kOrder, 2, 1, Slice(request, 0, 50)));
    ASSERT_TRUE(line_.Write(ControlFrame(kDcb, kCmdAck)));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), DataFrame(kDcb, kOrder, 2, 2, Slice(request, 50, 10)));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, ItemsGoOutOneAtEachBeaconInOrder) {
    ASSERT_TRUE(t12_.QueueRequest(kOrder, Text("T05")));
    t12_.QueueControlRequest(0x30);
    t12_.QueueClockRequest();
    t12_.QueuePageRequest(false);
    EXPECT_EQ(t12_.PendingItems(), 4u);
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), DataFrame(kDcb, kOrder, 1, 1, Text("T05")));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, 0x30));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdClock));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdPageBack));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, RequestsThatCannotTravelAreRefused) {
    EXPECT_FALSE(t12_.QueueRequest(kOrder, Bytes{'a', 0xFF, 'b'}));
    EXPECT_FALSE(t12_.QueueRequest(kOrder, Bytes{'a', 0x00}));
    EXPECT_FALSE(t12_.QueueRequest(kOrder, Bytes(255 * 50, 'x')));
    EXPECT_TRUE(t12_.QueueRequest(kOrder, Bytes(254 * 50, 'x')));
    // An empty request is a control request.
    ASSERT_TRUE(t12_.QueueRequest(0x31, {}));
    EXPECT_EQ(t12_.PendingItems(), 2u);
}

TEST_F(TerminalLine, SilentTerminalAnswersNothingUntilBackInReach) {
    t12_.SetSilent(true);
    ASSERT_TRUE(line_.Write(BeaconFrame(kDcb)));
    ASSERT_TRUE(line_.Write(DataFrame(kDcb, kOrder, 1, 1, Text("x"))));
    ASSERT_TRUE(line_.Write(TestFrame(kDcb, 1)));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    EXPECT_TRUE(t12_.Replies().empty());
    EXPECT_EQ(t12_.Counters().ignoredWhileSilent, 3u);
    t12_.SetSilent(false);
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, ChecksumErrorMakesItSendTheLastDataFrameAgain) {
    const Bytes request = Pattern(30);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, request));
    const Bytes sent = Exchange(BeaconFrame(kDcb));
    EXPECT_EQ(sent, DataFrame(kDcb, kOrder, 1, 1, request));
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdChecksumError)), sent);
    EXPECT_EQ(t12_.Counters().checksumErrors, 1u);
}

TEST_F(TerminalLine, CorruptedDataFrameIsRepairedOnResend) {
    t12_.CorruptDataFrames(1);
    const Bytes request = Pattern(30);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, request));
    const Bytes bad = Exchange(BeaconFrame(kDcb));
    const Frame parsed = ParseFrame(bad);
    EXPECT_EQ(parsed.kind, FrameKind::kData);
    EXPECT_FALSE(parsed.checksumOk);
    EXPECT_EQ(parsed.payload, request);
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdChecksumError)),
              DataFrame(kDcb, kOrder, 1, 1, request));
}

TEST_F(TerminalLine, RepeatedFragmentGoesTwiceEachTimeAcknowledged) {
    t12_.RepeatFragment(2);
    const Bytes request = Pattern(120);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, request));
    const Bytes second = DataFrame(kDcb, kOrder, 3, 2, Slice(request, 50, 50));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), DataFrame(kDcb, kOrder, 3, 1, Slice(request, 0, 50)));
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdAck)), second);
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdAck)), second);
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdAck)),
              DataFrame(kDcb, kOrder, 3, 3, Slice(request, 100, 20)));
}

TEST_F(TerminalLine, RepeatedLastFragmentGoesTwiceInARow) {
    t12_.RepeatFragment(1);
    ASSERT_TRUE(t12_.QueueRequest(kOrder, Text("one")));
    ASSERT_TRUE(line_.Write(BeaconFrame(kDcb)));
    const Bytes expected = DataFrame(kDcb, kOrder, 1, 1, Text("one"));
    EXPECT_EQ(line_.ReadFrame(), expected);
    EXPECT_EQ(line_.ReadFrame(), expected);
}

TEST_F(TerminalLine, DataFrameIsAcknowledgedAndTheReplyKept) {
    SendReplyFragment(1, 1, Text("OK 5"));
    ASSERT_TRUE(sim_.WaitFor([&] { return t12_.Replies().size() == 1; }, 1000));
    const Reply reply = t12_.Replies()[0];
    EXPECT_EQ(reply.command, kOrder);
    EXPECT_EQ(reply.fragments, 1);
    EXPECT_EQ(reply.data, Text("OK 5"));
    EXPECT_EQ(t12_.Counters().acksSent, 1u);
}

TEST_F(TerminalLine, DataFrameWithWrongChecksumIsNotAcknowledged) {
    Bytes frame = DataFrame(kDcb, kOrder, 1, 1, Text("OK"));
    frame[frame.size() - 2] ^= 0x01;
    ASSERT_TRUE(line_.Write(frame));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    EXPECT_EQ(t12_.Counters().badFrames, 1u);
    EXPECT_TRUE(t12_.Replies().empty());
}

TEST_F(TerminalLine, WithheldAckMakesTheRepeatWelcomeButNotANewReply) {
    t12_.WithholdAcks(1);
    const Bytes frame = DataFrame(kDcb, kOrder, 1, 1, Text("OK"));
    ASSERT_TRUE(line_.Write(frame));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    // The manager sends it again after its acknowledgement wait.
    EXPECT_EQ(Exchange(frame), ControlFrame(kDcb, kCmdAck));
    const TerminalCounters counters = t12_.Counters();
    EXPECT_EQ(counters.acksWithheld, 1u);
    EXPECT_EQ(counters.retransmissions, 1u);
    EXPECT_EQ(t12_.Replies().size(), 1u);
}

TEST_F(TerminalLine, FullPageOfALongReplyDrawsAPageForwardAtTheNextBeacon) {
    const Bytes reply = Pattern(300);  // N = 6: pages of 4 and 2 fragments
    for (uint8_t k = 1; k <= 4; ++k) {
        SendReplyFragment(6, k, Slice(reply, (k - 1) * 50u, 50));
    }
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdPageForward));
    SendReplyFragment(6, 5, Slice(reply, 200, 50));
    SendReplyFragment(6, 6, Slice(reply, 250, 50));
    ASSERT_TRUE(sim_.WaitFor([&] { return t12_.Replies().size() == 1; }, 1000));
    EXPECT_EQ(t12_.Replies()[0].data, reply);
    EXPECT_EQ(t12_.Replies()[0].fragments, 6);
    // All of it is here: no further page is asked for.
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, PageSentAgainDrawsNoSecondPageRequest) {
    const Bytes reply = Pattern(450);  // N = 9
    for (uint8_t k = 1; k <= 4; ++k) {
        SendReplyFragment(9, k, Slice(reply, (k - 1) * 50u, 50));
    }
    // The manager repeats the page's last fragment (its ack was lost).
    SendReplyFragment(9, 4, Slice(reply, 150, 50));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdPageForward));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, WithoutAutoPagingTheTerminalWaits) {
    t12_.SetAutoPaging(false);
    const Bytes reply = Pattern(250);
    for (uint8_t k = 1; k <= 4; ++k) {
        SendReplyFragment(5, k, Slice(reply, (k - 1) * 50u, 50));
    }
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    EXPECT_TRUE(t12_.Replies().empty());
    EXPECT_EQ(t12_.Fragments().size(), 4u);
}

TEST_F(TerminalLine, ShortMessageBeaconThenDelivery) {
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdMessageBeacon)), BeaconFrame(kDcb));
    EXPECT_EQ(Exchange(DataFrame(kDcb, kCmdShortMessage, 1, 1, Text("007HELLO"))),
              ControlFrame(kDcb, kCmdAck));
    ASSERT_TRUE(sim_.WaitFor([&] { return t12_.ShortMessages().size() == 1; }, 1000));
    const ShortMessage message = t12_.ShortMessages()[0];
    EXPECT_EQ(message.number, 7);
    EXPECT_EQ(message.text, Text("HELLO"));
    EXPECT_TRUE(t12_.Replies().empty());
    EXPECT_EQ(t12_.Counters().messageBeacons, 1u);
}

TEST_F(TerminalLine, TestFrameIsEchoedUnchanged) {
    const Bytes frame = TestFrame(kDcb, 42);
    EXPECT_EQ(Exchange(frame), frame);
    EXPECT_EQ(t12_.Counters().testFrames, 1u);
    EXPECT_EQ(t12_.Counters().acksSent, 0u);
}

TEST_F(TerminalLine, DamagedEchoesAreWrongInTheWayAsked) {
    const Bytes frame = TestFrame(kDcb, 42);

    t12_.DamageEchoes(1, EchoDamage::kPatternByte);
    const Frame pattern = ParseFrame(Exchange(frame));
    EXPECT_EQ(pattern.kind, FrameKind::kTest);
    EXPECT_TRUE(pattern.checksumOk);
    EXPECT_EQ(pattern.sequence, 42);
    EXPECT_NE(pattern.payload, ParseFrame(frame).payload);

    t12_.DamageEchoes(1, EchoDamage::kSequence);
    const Frame sequence = ParseFrame(Exchange(frame));
    EXPECT_TRUE(sequence.checksumOk);
    EXPECT_NE(sequence.sequence, 42);
    EXPECT_EQ(sequence.payload, ParseFrame(frame).payload);

    t12_.DamageEchoes(2, EchoDamage::kChecksum);
    EXPECT_FALSE(ParseFrame(Exchange(frame)).checksumOk);
    EXPECT_FALSE(ParseFrame(Exchange(frame)).checksumOk);
    // Used up: intact again.
    EXPECT_EQ(Exchange(frame), frame);
}

TEST_F(TerminalLine, FramesSplitAcrossWritesOrSharingOne) {
    ASSERT_TRUE(line_.Write({0x00, kDcb}));
    EXPECT_TRUE(line_.QuietFor(50));
    EXPECT_EQ(Exchange({static_cast<uint8_t>(0xFF - kDcb), 0xFF}), BeaconFrame(kDcb));

    Bytes two = BeaconFrame(kDcb);
    const Bytes test = TestFrame(kDcb, 3);
    two.insert(two.end(), test.begin(), test.end());
    ASSERT_TRUE(line_.Write(two));
    EXPECT_EQ(line_.ReadFrame(), BeaconFrame(kDcb));
    EXPECT_EQ(line_.ReadFrame(), test);
}

TEST_F(TerminalLine, NoiseAndBrokenFramesAreSurvived) {
    // Stray bytes, a frame cut short by a new start, then a good beacon.
    EXPECT_EQ(
        Exchange({0x12, 0x34, 0x00, kDcb, 0x00, kDcb, static_cast<uint8_t>(0xFF - kDcb), 0xFF}),
        BeaconFrame(kDcb));
    // A run past 255 bytes is dropped whole, its end marker too.
    Bytes overlong{0x00, kDcb, static_cast<uint8_t>(0xFF - kDcb)};
    overlong.insert(overlong.end(), 300, 0x41);
    overlong.push_back(0xFF);
    ASSERT_TRUE(line_.Write(overlong));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    // Wrong address complement: not for anybody.
    ASSERT_TRUE(line_.Write({0x00, kDcb, 0x01, 0xFF}));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    const StationCounters counters = com3_.Counters();
    // 0x12 0x34, then what followed the 255th byte of the long run: 48 bytes.
    EXPECT_EQ(counters.strayBytes, 2u + 48u);
    EXPECT_EQ(counters.interruptedFrames, 1u);
    EXPECT_EQ(counters.malformedFrames, 1u);
    EXPECT_EQ(counters.overlongFrames, 1u);
    EXPECT_EQ(t12_.Counters().beacons, 3u);
}

TEST_F(TerminalLine, DownloadSearchLinesAndDone) {
    Terminal& t13 = com3_.AddTerminal(13);
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdSearch)), ControlFrame(kDcb, kCmdSearch));
    EXPECT_EQ(Exchange(ControlFrame(13, kCmdSearch)), ControlFrame(13, kCmdSearch));

    // A broadcast line is not answered by itself...
    ASSERT_TRUE(line_.Write(BroadcastLineFrame(3, 2, 1, Text("101 fish"))));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    // ...but the next beacon to each terminal draws an acknowledgement.
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdAck));
    EXPECT_EQ(Exchange(BeaconFrame(13)), ControlFrame(13, kCmdAck));
    // Only one per line.
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));

    // A line with a broken checksum is not taken and not acknowledged.
    Bytes broken = BroadcastLineFrame(3, 2, 2, Text("102 soup"));
    broken[broken.size() - 2] ^= 0x01;
    ASSERT_TRUE(line_.Write(broken));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    ASSERT_TRUE(line_.Write(BroadcastLineFrame(3, 2, 2, Text("102 soup"))));
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdAck));

    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdDownloadDone)), ControlFrame(kDcb, kCmdAck));

    const auto lines = t12_.DownloadLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].command, 3);
    EXPECT_EQ(lines[0].total, 2u);
    EXPECT_EQ(lines[0].record, 1u);
    EXPECT_EQ(lines[0].text, Text("101 fish"));
    EXPECT_EQ(lines[1].text, Text("102 soup"));
    EXPECT_EQ(t13.DownloadLines().size(), 2u);
    const TerminalCounters counters = t12_.Counters();
    EXPECT_EQ(counters.searches, 1u);
    EXPECT_EQ(counters.downloadDone, 1u);
    EXPECT_EQ(counters.badFrames, 1u);
}

TEST_F(TerminalLine, WithheldLineAckLeavesTheBeaconUnanswered) {
    ASSERT_TRUE(line_.Write(BroadcastLineFrame(4, 1, 1, Text("cold dishes"))));
    t12_.WithholdAcks(1);
    ASSERT_TRUE(line_.Write(BeaconFrame(kDcb)));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    EXPECT_EQ(Exchange(ControlFrame(kDcb, kCmdDownloadDone)), ControlFrame(kDcb, kCmdAck));
}

TEST_F(TerminalLine, ClockRequestAndItsReply) {
    t12_.QueueClockRequest();
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), ControlFrame(kDcb, kCmdClock));
    Bytes payload = Text("2431205143015");
    payload.insert(payload.end(), 20, ' ');
    ASSERT_EQ(payload.size(), 33u);
    const Bytes frame = DataFrame(kDcb, kCmdClock, 1, 1, payload);
    EXPECT_EQ(frame.size(), 43u);
    EXPECT_EQ(Exchange(frame), ControlFrame(kDcb, kCmdAck));
    ASSERT_TRUE(sim_.WaitFor([&] { return t12_.Replies().size() == 1; }, 1000));
    EXPECT_EQ(t12_.Replies()[0].command, kCmdClock);
    EXPECT_EQ(t12_.Replies()[0].data, payload);
}

TEST_F(TerminalLine, InjectedBytesReachTheManagerAsTheyAre) {
    com3_.InjectRaw({0x12, 0x34, 0x00, 0x05});
    EXPECT_EQ(line_.ReadBytes(4), (Bytes{0x12, 0x34, 0x00, 0x05}));
    const auto frames = sim_.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(frames.back().raw);
    EXPECT_EQ(frames.back().direction, Direction::kToManager);
}

TEST_F(TerminalLine, EveryFrameIsRecordedBothWays) {
    const int64_t before = MonotonicUs();
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
    ASSERT_TRUE(sim_.WaitFor([&] { return sim_.FrameCount() >= 2; }, 1000));
    const auto frames = sim_.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].station, "COM3");
    EXPECT_EQ(frames[0].direction, Direction::kFromManager);
    EXPECT_EQ(frames[1].direction, Direction::kToManager);
    EXPECT_EQ(frames[0].bytes, BeaconFrame(kDcb));
    EXPECT_GE(frames[0].timeUs, before);
    EXPECT_LE(frames[0].timeUs, frames[1].timeUs);
    EXPECT_LE(frames[1].timeUs, MonotonicUs());
}

TEST_F(TerminalLine, WaitForIsBounded) {
    const int64_t start = MonotonicUs();
    EXPECT_FALSE(sim_.WaitFor([] { return false; }, 50));
    EXPECT_GE(MonotonicUs() - start, 50'000);
    EXPECT_TRUE(sim_.WaitFor([] { return true; }, 0));
}

TEST_F(TerminalLine, PortSurvivesTheManagerClosingAndReopeningIt) {
    // The manager opens exclusively; as it closes, the flag must not outlive
    // it or its next start could not open the port.
    ASSERT_EQ(::ioctl(line_.Fd(), TIOCEXCL), 0);
    ASSERT_TRUE(sim_.WaitFor([&] { return com3_.Counters().portOpens >= 1; }, 1000));
    line_.Close();
    ASSERT_TRUE(sim_.WaitFor([&] { return com3_.Counters().portCloses >= 1; }, 1000));
    ASSERT_TRUE(line_.Open(home_.path() + "/ports/COM3"));
    int exclusive = -1;
    ASSERT_EQ(::ioctl(line_.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_FALSE(com3_.Counters().hungUp);
    EXPECT_EQ(Exchange(BeaconFrame(kDcb)), BeaconFrame(kDcb));
}

TEST_F(TerminalLine, StopsAndStartsAgain) {
    sim_.Stop();
    EXPECT_FALSE(sim_.Running());
    ASSERT_TRUE(line_.Write(BeaconFrame(kDcb)));
    EXPECT_TRUE(line_.QuietFor(kQuietMs));
    ASSERT_TRUE(sim_.Start());
    // The beacon written while stopped waited on the line and is answered now.
    EXPECT_EQ(line_.ReadFrame(), BeaconFrame(kDcb));
}

}  // namespace
}  // namespace qm::devsim
