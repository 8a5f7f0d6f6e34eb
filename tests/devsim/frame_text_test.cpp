// Which frames a trace with --hide-beacons leaves out: only the plain
// beacons and their answers, never a frame that tells something.
#include <gtest/gtest.h>

#include "tools/devsim/frame.h"
#include "tools/devsim/frame_text.h"

namespace qm::devsim {
namespace {

struct Case {
    const char* what;
    Bytes bytes;
    Direction direction;
    bool raw;
    bool plain;
};

TEST(FrameText, OnlyPlainBeaconsAreHidden) {
    const Bytes beacon = BeaconFrame(12);
    Bytes wrongComplement = beacon;
    wrongComplement[2] ^= 0x01;
    const uint8_t text[] = {'h', 'i'};
    const Case cases[] = {
        {"beacon to a terminal", beacon, Direction::kFromManager, false, true},
        {"a terminal's answer", beacon, Direction::kToManager, false, true},
        {"message beacon", ControlFrame(12, kCmdMessageBeacon), Direction::kFromManager, false,
         false},
        {"acknowledgement", ControlFrame(12, kCmdAck), Direction::kToManager, false, false},
        {"request", DataFrame(12, 0x0D, 1, 1, text), Direction::kToManager, false, false},
        {"injected bytes that look like a beacon", beacon, Direction::kToManager, true, false},
        {"4 bytes with a wrong address complement", wrongComplement, Direction::kToManager, false,
         false},
    };
    for (const Case& c : cases) {
        FrameRecord record;
        record.station = "COM3";
        record.direction = c.direction;
        record.bytes = c.bytes;
        record.raw = c.raw;
        EXPECT_EQ(IsPlainBeacon(record), c.plain) << c.what;
    }
}

}  // namespace
}  // namespace qm::devsim
