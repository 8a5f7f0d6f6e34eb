// What the simulated devices saw and did, as the tests read it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/frame.h"

namespace qm::devsim {

// CLOCK_MONOTONIC in microseconds, the clock of every record.
int64_t MonotonicUs();

enum class Direction { kToManager, kFromManager };

// One frame on a station's line. Frames from the manager are recorded as the
// device's receiver cut them out of the stream; frames to the manager as the
// device sent them.
struct FrameRecord {
    std::string station;  // port name
    Direction direction = Direction::kFromManager;
    Bytes bytes;
    int64_t timeUs = 0;  // CLOCK_MONOTONIC, microseconds
    bool raw = false;    // injected bytes, not necessarily a frame
};

// One data fragment of a reply as the terminal received it.
struct ReplyFragment {
    uint8_t command = 0;
    uint8_t total = 0;   // N
    uint8_t number = 0;  // k
    Bytes payload;
};

// A reply reassembled from all of its N fragments.
struct Reply {
    uint8_t command = 0;
    uint8_t fragments = 0;
    Bytes data;
};

// A short message delivered with data command 0x1C. Its payload is the
// message number as three decimal digits followed by the text.
struct ShortMessage {
    int number = -1;  // -1 when the three digits are missing or not digits
    Bytes text;
    Bytes payload;
    // Reply fragments the terminal had received when the message came, so
    // that a message can be placed among the fragments of a long reply.
    size_t fragmentsBefore = 0;
};

// One record of a download run as broadcast to the station.
struct DownloadLine {
    uint8_t command = 0;  // 3 + file index
    uint32_t total = 0;
    uint32_t record = 0;  // 1-based
    Bytes text;
};

struct TerminalCounters {
    uint64_t beacons = 0;         // plain beacons addressed to the terminal
    uint64_t messageBeacons = 0;  // beacons with a short message waiting
    uint64_t searches = 0;        // download searches answered
    uint64_t downloadDone = 0;    // download done frames received
    uint64_t testFrames = 0;      // link test frames received
    uint64_t checksumErrors = 0;  // 0x02 from the manager
    uint64_t acksReceived = 0;    // 0x01 from the manager
    uint64_t acksSent = 0;
    uint64_t acksWithheld = 0;
    uint64_t badFrames = 0;        // addressed data or broadcast frames failing their checksum
    uint64_t retransmissions = 0;  // repeats of a data frame whose ack was withheld
    // A data frame equal to the last one, which was acknowledged, came again:
    // the manager sent it once more because the acknowledgement reached it
    // late or not at all. A terminal cannot tell it from a new frame.
    uint64_t repeatsAfterAck = 0;
    uint64_t ignoredWhileSilent = 0;

    uint64_t searchesIgnored = 0;   // download searches left unanswered on purpose
    uint64_t lineAcksWithheld = 0;  // download lines left unacknowledged past the limit
    uint64_t echoesDelayed = 0;     // link test echoes sent late on purpose
};

struct StationCounters {
    uint64_t framesReceived = 0;
    uint64_t malformedFrames = 0;  // complete frames that fit no kind
    uint64_t strayBytes = 0;
    uint64_t overlongFrames = 0;
    uint64_t interruptedFrames = 0;
    uint64_t droppedOutputBytes = 0;  // not written: line full or gone, or held back at a stop
    uint64_t portOpens = 0;           // opens of the port by others (the manager, a test)
    uint64_t portCloses = 0;
    bool hungUp = false;
    // Stretches of at least the station's silence limit without a frame on
    // the line in either direction, and the longest stretch: a beacon that
    // waits out BeaconTimeout on an exchange that never ends leaves the line
    // silent. Counted once a limit is set, from the next frame on.
    uint64_t longSilences = 0;
    int64_t longestSilenceUs = 0;
};

}  // namespace qm::devsim
