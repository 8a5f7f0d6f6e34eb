// The device simulator from the manager's end of the line, opened with the
// manager's own serial port: the qm-devsim program as the demo uses it, and
// the terminal faults that no test of the manager switches on yet.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial_port.h"
#include "tests/common/test_support.h"
#include "tools/devsim/device_simulator.h"
#include "tools/process/child_process.h"

namespace qm::devsim {
namespace {

using qm::ChildProcess;
using qm::test::TempDir;
using qm::test::WriteFile;

constexpr uint8_t kDcb = 12;

// The manager's end of port COM3 of the site in `home`.
class Line {
  public:
    explicit Line(const std::string& home) : port_(SerialPort::Open("COM3", home, nullptr)) {}
    bool Ok() const { return port_ != nullptr; }
    bool Write(const Bytes& bytes) { return port_->Write(bytes.data(), bytes.size(), stop_); }

    // The next whole frame within a second; nullopt when none came.
    std::optional<Bytes> ReadFrame() {
        const Deadline deadline(1000);
        for (;;) {
            const auto start = std::find(pending_.begin(), pending_.end(), kFrameStart);
            pending_.erase(pending_.begin(), start);
            const auto end = std::find(pending_.begin(), pending_.end(), kFrameEnd);
            if (end != pending_.end()) {
                Bytes frame(pending_.begin(), end + 1);
                pending_.erase(pending_.begin(), end + 1);
                return frame;
            }
            uint8_t buffer[256];
            if (WaitAny({&port_->Readable()}, static_cast<uint32_t>(deadline.RemainingMs())) != 0)
                return std::nullopt;
            const ssize_t n = port_->Read(buffer, sizeof buffer);
            if (n < 0)
                return std::nullopt;
            pending_.insert(pending_.end(), buffer, buffer + n);
        }
    }

  private:
    std::unique_ptr<SerialPort> port_;
    Event stop_{Event::Mode::kManualReset, false};
    Bytes pending_;
};

TEST(DevsimProgram, ServesTheSiteTracesAndEndsOnSigterm) {
    TempDir home;
    ASSERT_FALSE(home.path().empty());
    WriteFile(home / "TXT/基站.TXT", "1 COM3\r\n");
    WriteFile(home / "TXT/点菜机.TXT", "12 1\r\n13 1\r\n");
    WriteFile(home / "demo.txt", "# order\nat 0 request 1 12 0x0D hello\n");
    ChildProcess child;
    ASSERT_TRUE(child.Start(std::string(QM_BINARY_DIR) + "/tools/qm-devsim",
                            {"--home", home.path(), "--script", home / "demo.txt", "--trace"}, "",
                            ChildProcess::Capture::kOutput));
    ASSERT_EQ(child.ReadLine(5000), "ready");
    {
        Line line(home.path());
        ASSERT_TRUE(line.Ok());
        ASSERT_TRUE(line.Write(BeaconFrame(12)));
        EXPECT_EQ(line.ReadFrame(), DataFrame(12, 0x0D, 1, 1, Bytes{'h', 'e', 'l', 'l', 'o'}));
        ASSERT_TRUE(line.Write(BeaconFrame(13)));
        EXPECT_EQ(line.ReadFrame(), BeaconFrame(13));
        EXPECT_TRUE(child.SeeLine("COM3 -> T012 BEACON", 2000));
        EXPECT_TRUE(child.SeeLine("COM3 <- T012 DATA cmd=0x0D k=1/1 \"hello\"", 2000));
        EXPECT_TRUE(child.SeeLine("COM3 <- T013 BEACON", 2000));
    }
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitExit(5000), 0);
    // The port's link goes with the program.
    EXPECT_FALSE(qm::test::PathExists(home / "ports/COM3"));
}

class TerminalFault : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(com3_.Ok()) << com3_.Error();
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(line_.Ok());
    }

    // Writes `frame` and returns the one frame that answers it.
    Bytes Exchange(const Bytes& frame) {
        EXPECT_TRUE(line_.Write(frame));
        return line_.ReadFrame().value_or(Bytes{});
    }

    TempDir home_;
    DeviceSimulator sim_{home_.path()};
    Station& com3_ = sim_.AddStation("COM3");
    Terminal& t12_ = com3_.AddTerminal(kDcb);
    Line line_{home_.path()};
};

TEST_F(TerminalFault, DamagedEchoesAreWrongInTheWayAsked) {
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

TEST_F(TerminalFault, DelayedEchoWaitsAloneAndStopDropsIt) {
    const Bytes test = TestFrame(kDcb, 7);
    const Bytes beacon = BeaconFrame(kDcb);
    t12_.DelayEchoes(1, 150);
    Bytes both = test;
    both.insert(both.end(), beacon.begin(), beacon.end());
    ASSERT_TRUE(line_.Write(both));
    // The beacon behind the test frame is answered first, then the echo.
    ASSERT_EQ(line_.ReadFrame(), beacon);
    ASSERT_EQ(line_.ReadFrame(), test);
    const auto frames = sim_.Frames();
    const auto at = [&](Direction direction) {
        return std::find_if(frames.begin(), frames.end(),
                            [&](const FrameRecord& r) {
                                return r.direction == direction && r.bytes == test;
                            })
            ->timeUs;
    };
    EXPECT_GE(at(Direction::kToManager) - at(Direction::kFromManager), 150'000);

    // An echo held back for an hour does not hold up the stop.
    t12_.DelayEchoes(1, 3'600'000);
    ASSERT_TRUE(line_.Write(test));
    ASSERT_TRUE(sim_.WaitFor([&] { return t12_.Counters().echoesDelayed == 2; }, 1000));
    sim_.Stop();
    EXPECT_EQ(com3_.Counters().droppedOutputBytes, kTestFrameLength);
}

}  // namespace
}  // namespace qm::devsim
