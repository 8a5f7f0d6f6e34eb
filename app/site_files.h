// Readers of the site files that the back-end keeps in the TXT folder:
// base stations, terminals, the venue title and the short message.
#pragma once

#include <cstdint>

#include "app/site_context.h"

namespace qm {

inline constexpr const char* kStationFile = "基站.TXT";
inline constexpr const char* kTerminalFile = "点菜机.TXT";

// 基站.TXT: one station per line, "host-id port". A port name longer than
// the record's 6 bytes is not stored: the line goes to refusedStations.
// Returns 1 if read.
int LoadStations(SiteContext& site);
// 点菜机.TXT: one terminal per line, "dcb-id host-id". Returns 1 if read.
int LoadTerminals(SiteContext& site);
// BT.txt, else 酒店名称.txt: the first line, handed to the service as the
// venue title. Returns 1 if a title file was read.
int LoadVenueTitle(SiteContext& site);
// DX.txt: read, deleted, and its message queued with the service.
void LoadShortMessage(SiteContext& site);
// Position of a terminal in station record stationIndex, 255 if none.
uint8_t FindDcbSlot(const SiteContext& site, uint32_t stationIndex, uint8_t dcbId);
// The service's index of the station at this position of the site's station
// table, for a download run or a link test. The two differ when a station
// before it failed to open; 255, with a log line, when the station at the
// position does not run (or there is none).
uint8_t ServiceStationIndex(const SiteContext& site, uint32_t position);

}  // namespace qm
