// Lookups in the site's station table that the application core and the
// operator's panels share.
#pragma once

#include <cstdint>

#include "site/site_context.h"

namespace qm {

// Position of a terminal in station record stationIndex, 255 if none.
uint8_t FindDcbSlot(const SiteContext& site, uint32_t stationIndex, uint8_t dcbId);
// The service's index of the station at this position of the site's station
// table, for a download run or a link test. The two differ when a station
// before it failed to open; 255, with a log line, when the station at the
// position does not run (or there is none).
uint8_t ServiceStationIndex(const SiteContext& site, uint32_t position);

}  // namespace qm
