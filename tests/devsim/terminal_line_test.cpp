// The simulated terminals' faults that no test of the manager switches on yet,
// seen from the manager's end of the line: the test opens <home>/ports/COM3
// itself, writes what the manager would write and checks what comes back.
#include <gtest/gtest.h>

#include "tests/common/test_support.h"
#include "tests/devsim/manager_line.h"
#include "tools/devsim/device_simulator.h"

namespace qm::devsim {
namespace {

constexpr uint8_t kDcb = 12;

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
        return line_.ReadFrame().value_or(Bytes{});
    }

    qm::test::TempDir home_;
    DeviceSimulator sim_{home_.path()};
    Station& com3_ = sim_.AddStation("COM3");
    Terminal& t12_ = com3_.AddTerminal(kDcb);
    test::ManagerLine line_;
};

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

TEST_F(TerminalLine, RepeatedLastFragmentGoesTwiceInARow) {
    t12_.RepeatFragment(1);
    ASSERT_TRUE(t12_.QueueRequest(0x0D, Bytes{'o', 'n', 'e'}));
    ASSERT_TRUE(line_.Write(BeaconFrame(kDcb)));
    const Bytes expected = DataFrame(kDcb, 0x0D, 1, 1, Bytes{'o', 'n', 'e'});
    EXPECT_EQ(line_.ReadFrame(), expected);
    EXPECT_EQ(line_.ReadFrame(), expected);
}

}  // namespace
}  // namespace qm::devsim
