// Readers of the site files that the back-end keeps in the TXT folder:
// base stations, terminals, the venue title and the short message.
#pragma once

#include <cstdint>

#include "site/site_context.h"

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

}  // namespace qm
