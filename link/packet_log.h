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

namespace qm {

// Entry kinds and their tags: 0 "[R] ", 1 "[S] ", any other k "[E<k>] ".
// The rejections 2..6 are the frame assembler's (AssemblerEvent).
inline constexpr int kPacketReceived = 0;
inline constexpr int kPacketSent = 1;

// Appends "<ms> <tag><XX >...\r\n" where <ms> is at least four digits. Lines
// of concurrent callers never interleave. The reference time for <ms> is
// taken by the first call of the process, written or not, and replaced after
// every line written; a file that cannot be opened leaves it alone.
void LogPacket(int kind, const uint8_t* bytes, size_t length);

// Test seams. The tick source defaults to TickCount(); nullptr restores it.
// Resetting the reference makes the next call take it afresh, as the first
// call of a process does.
using PacketLogTickSource = uint32_t (*)();
void SetPacketLogTickSourceForTest(PacketLogTickSource source);
void ResetPacketLogReferenceForTest();

}  // namespace qm
