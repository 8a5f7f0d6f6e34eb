// What the link is given and what it hands on: the entry of a base station
// it opens, the record of a complete request it posts to the application
// window, and the limits of both. The service maps its public records onto
// these and checks at compile time that they agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qm {

// Terminals one base station serves.
inline constexpr size_t kMaxTerminalsPerStation = 200;
// Host ids a station may have; an entry above is skipped.
inline constexpr uint8_t kMaxHostId = 8;

// One base station to open: its host id, the name of its serial port (not
// NUL-terminated when it fills all six bytes) and its terminals in table
// order.
struct StationEntry {
    uint8_t hostId = 0;
    std::array<char, 6> portName{};
    uint8_t terminalCount = 0;  // valid entries of terminalIds
    std::array<uint8_t, kMaxTerminalsPerStation> terminalIds{};
};

// The window message that tells the application a request is complete:
// wParam is the address of the request's RequestRecord, lParam that of its
// bytes.
inline constexpr uint32_t kRequestNoticeMessage = 0x600;

// A notice posted to a window outside this process's own table stays valid
// until this many later ones have been posted.
inline constexpr size_t kKeptRequestNotices = 256;

// The record a request notice points at. Its layout is read in place by
// whoever receives the notice: seven bytes, no padding.
#pragma pack(push, 1)
struct RequestRecord {
    uint8_t hostId;
    uint8_t dcbId;
    uint8_t code;
    uint32_t length;  // bytes of the request
};
#pragma pack(pop)
static_assert(sizeof(RequestRecord) == 7);

}  // namespace qm
