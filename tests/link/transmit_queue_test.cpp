// The bound of a station's transmit queue: what is refused beyond it, and
// the two log lines of an overflow stretch. No threads: the test takes
// frames off the queue as the writer would.
#include <gtest/gtest.h>

#include "link/link_state.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

class TransmitQueue : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDebugLevel(1);
        station_.hostId = 3;
        frame_.length = 6;
    }
    // Appends n frames; how many were taken.
    size_t Append(size_t n) {
        size_t taken = 0;
        for (size_t i = 0; i < n; ++i) taken += AppendFrame(station_, frame_) ? 1 : 0;
        return taken;
    }
    // Takes frames off the head, as the writer does, until `left` are queued.
    void DrainTo(size_t left) {
        while (station_.txQueue.size() > left) station_.txQueue.pop_front();
    }

    TempDir dir_;
    ScopedCwd cwd_{dir_.path()};
    StationLink station_;
    Frame frame_;
};

TEST_F(TransmitQueue, RefusesBeyondItsBoundAndLogsEachStretchOnce) {
    const std::string full =
        "(HostID 003  DCBID 255)Transmit queue full (1024 frames): frames refused";
    EXPECT_EQ(Append(kTxQueueMax), kTxQueueMax);
    EXPECT_EQ(Append(3), 0u);
    EXPECT_EQ(station_.txQueue.size(), kTxQueueMax);
    EXPECT_EQ(CountLogLines(full), 1);

    // Room again, but the stretch goes on until half the queue has gone: a
    // producer at the brim writes no line per frame.
    DrainTo(kTxQueueMax - 1);
    EXPECT_EQ(Append(2), 1u);
    DrainTo(kTxQueueMax / 2 + 1);
    EXPECT_EQ(Append(1), 1u);
    EXPECT_EQ(CountLogLines(full), 1);
    EXPECT_EQ(CountLogLines("Transmit queue drained"), 0);

    DrainTo(kTxQueueMax / 2 - 1);
    EXPECT_EQ(Append(1), 1u);
    EXPECT_EQ(CountLogLines("(HostID 003  DCBID 255)Transmit queue drained: 4 frames refused "
                            "meanwhile"),
              1);

    // A new stretch is a new line, and its own count.
    EXPECT_EQ(Append(kTxQueueMax), kTxQueueMax / 2);
    EXPECT_EQ(CountLogLines(full), 2);
    DrainTo(0);
    EXPECT_TRUE(AppendFrame(station_, frame_));
    EXPECT_EQ(CountLogLines("Transmit queue drained: 512 frames refused meanwhile"), 1);
    EXPECT_EQ(LogLines().size(), 4u);
}

}  // namespace
}  // namespace qm::test
