// Which base station a terminal talks through, read from the site the way
// the manager reads it, so that the packet log's lines (which carry only the
// terminal's DCB id) can be put down to their station.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qm::pktlog {

class StationMap {
  public:
    // The station of a terminal as "host:port" ("1:COM3"); "?" when the
    // terminal is listed at more than one station, "-" when at none.
    const std::string& Of(uint8_t dcbId) const { return names_[dcbId]; }

    // Reads <programDir>/TXT/基站.TXT ("host-id port") and 点菜机.TXT
    // ("dcb-id host-id"), each found ignoring ASCII case. A terminal belongs
    // to every station record of its host id, as in the manager; stations
    // whose port name is longer than 6 bytes, and those beyond the
    // manager's table, are not stations. Nullopt when there is no TXT
    // folder; missing files mean no stations or no terminals.
    static std::optional<StationMap> Load(const std::string& programDir);

  private:
    std::string names_[256];
};

}  // namespace qm::pktlog
