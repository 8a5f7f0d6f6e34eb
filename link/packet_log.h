// The packet log QMPktLog.txt: a hex trace of the serial traffic for field
// diagnosis, one line per frame sent, received or thrown away, each with the
// milliseconds since the previous line.
//
// It is written only at debug level 4 (kLogPackets). The file is opened by
// its relative name in the current folder for every line and closed again,
// so that it can be copied or removed while the manager runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame_codec.h"

namespace qm {

// Frames the link passed on: tagged "[R] " and "[S] ".
enum class PacketKind : uint8_t { kReceived, kSent };

// Appends "<ms> <tag><XX >...\r\n" where <ms> is at least four digits. Lines
// of concurrent callers never interleave. The reference time for <ms> is
// taken by the first call of the process, written or not, and replaced after
// every line written; a file that cannot be opened leaves it alone.
void LogPacket(PacketKind kind, const uint8_t* bytes, size_t length);
// What the frame assembler reported: a frame as received, "[R] ", and bytes
// it threw away as "[E<n>] ", n being the event's value (2..6).
void LogPacket(AssemblerEvent event, const uint8_t* bytes, size_t length);

// Test seams. The tick source defaults to TickCount(); nullptr restores it.
// Resetting the reference makes the next call take it afresh, as the first
// call of a process does.
using PacketLogTickSource = uint32_t (*)();
void SetPacketLogTickSourceForTest(PacketLogTickSource source);
void ResetPacketLogReferenceForTest();

}  // namespace qm
