// The packet log QMPktLog.txt: a hex trace of the serial traffic for field
// diagnosis, one line per frame sent, received or thrown away, each with the
// milliseconds since the previous line, then the station it crossed and the
// local wall-clock time it was logged at:
//
//   0012 [S] 00 05 FA FF | 1 COM3 2026-12-07 22:54:33.123
//
// The station and time come after the bytes, behind "| ", so that the start
// of a line reads as it always did; logs of earlier versions end after the
// bytes, and qm-pktlog reads both.
//
// It is written only at debug level 4 (kLogPackets). The file is opened by
// its relative name in the current folder for every line and closed again,
// so that it can be copied or removed while the manager runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/frame_codec.h"
#include "platform/clock.h"

namespace qm {

// Frames the link passed on: tagged "[R] " and "[S] ".
enum class PacketKind : uint8_t { kReceived, kSent };

// The base station a frame crossed: its host id and port name as 基站.TXT
// gives them. A port name is written up to its first NUL, at most
// kPortNameMax bytes; bytes that would split the line's fields (blanks,
// control characters, '|') are written as '?', and an empty name as '-'.
struct PacketStation {
    uint8_t hostId = 0;
    std::string_view port;
};

// Appends "<ms> <tag><XX >...| <host> <port> <YYYY-MM-DD HH:MM:SS.mmm>\r\n"
// where <ms> is at least four digits. Lines of concurrent callers never
// interleave. The reference time for <ms> is taken by the first call of the
// process, written or not, and replaced after every line written; a file
// that cannot be opened leaves it alone.
void LogPacket(const PacketStation& station, PacketKind kind, const uint8_t* bytes, size_t length);
// What the frame assembler reported: a frame as received, "[R] ", and bytes
// it threw away as "[E<n>] ", n being the event's value (2..6).
void LogPacket(const PacketStation& station, AssemblerEvent event, const uint8_t* bytes,
               size_t length);

// Test seams. The tick source defaults to TickCount(), the wall clock to
// LocalTimeNowMs(); nullptr restores them. Resetting the reference makes the
// next call take it afresh, as the first call of a process does.
using PacketLogTickSource = uint32_t (*)();
void SetPacketLogTickSourceForTest(PacketLogTickSource source);
using PacketLogWallClock = LocalTimeMs (*)();
void SetPacketLogWallClockForTest(PacketLogWallClock clock);
void ResetPacketLogReferenceForTest();

}  // namespace qm
