// The device list's rules: which terminals of one base station are shown,
// with which picture, and which of them changed since they were drawn.
//
// A terminal's logged-on word (site.stations[s].dcbState[i]) is 0 until a
// logon reply with success has been passed on to it, then 1; nothing sets it
// back while the manager runs. The list draws picture 0 (not logged on) or
// picture 1 (logged on) and, at each refresh, redraws only the terminals
// whose word differs from the one drawn, so that the view does not flicker.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "site/site_context.h"

namespace qm {

class DeviceList {
  public:
    struct Item {
        std::string label;  // the DCB id, "%.3d"
        int picture = 0;    // 0 not logged on, 1 logged on
    };

    // Binds the site; every drawn word is 0 and station 0 is shown.
    void AttachSite(const SiteContext& site);
    // The items of the station at this position of the site's table, in
    // table order; none for a position at or past the loaded stations.
    const std::vector<Item>& ShowStation(uint8_t station);
    // The positions whose word changed since they were drawn, in order; their
    // items are rebuilt and the new words count as drawn.
    std::vector<size_t> Refresh();

    const std::vector<Item>& Items() const { return items_; }
    uint8_t Station() const { return station_; }

  private:
    Item MakeItem(size_t terminal) const;
    // Terminals of the shown station, bounded by the table.
    size_t TerminalCount() const;

    const SiteContext* site_ = nullptr;
    uint8_t station_ = 0;
    // Per station position and terminal position, the word last drawn.
    std::array<std::array<int32_t, QM_MAX_TERMINALS>, QM_MAX_STATIONS> drawn_{};
    std::vector<Item> items_;
};

}  // namespace qm
