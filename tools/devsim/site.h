// The site files that say which base stations and terminals exist, read the
// way the manager reads them, so that the simulator builds the same site.
//
//   TXT/基站.TXT     one station per line:  <host id> <port name>
//   TXT/点菜机.TXT   one terminal per line: <dcb id> <host id>
//
// A line is read in pieces of at most 99 bytes. A line whose first byte is a
// blank, CR or LF is skipped whole. Fields are separated by runs of blanks,
// tabs, CR and LF; a number is its leading decimal digits taken modulo 256.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::devsim {

struct SiteStation {
    uint8_t hostId = 0;
    std::string portName;  // at most 6 bytes: what the manager keeps of it
};

struct SiteTerminal {
    uint8_t dcbId = 0;
    uint8_t hostId = 0;
};

inline constexpr const char* kStationFileName = "基站.TXT";
inline constexpr const char* kTerminalFileName = "点菜机.TXT";
inline constexpr size_t kPortNameBytes = 6;
// Site files are a few lines; anything far larger is not one.
inline constexpr size_t kMaxSiteFileBytes = 1 << 20;

// The pieces the manager's line reader would produce.
std::vector<std::string> SiteLines(std::string_view text);
// Lines without a port name are skipped (they name no line to open).
std::vector<SiteStation> ParseStations(std::string_view text);
// Lines without a host id are skipped.
std::vector<SiteTerminal> ParseTerminals(std::string_view text);

}  // namespace qm::devsim
