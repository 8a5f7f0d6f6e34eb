#include "site/station_lookup.h"

#include "platform/app_log.h"
#include "service/service.h"

namespace qm {

uint8_t FindDcbSlot(const SiteContext& site, uint32_t stationIndex, uint8_t dcbId) {
    if (stationIndex >= site.stationCount || stationIndex >= QM_MAX_STATIONS)
        return 255;
    const _DEVINFO& st = site.stations[stationIndex];
    for (uint32_t i = 0; i < st.dcbCount && i < QM_MAX_TERMINALS; ++i)
        if (st.dcbIds[i] == dcbId)
            return static_cast<uint8_t>(i);
    return 255;
}

uint8_t ServiceStationIndex(const SiteContext& site, uint32_t position) {
    if (position >= site.stationCount || position >= site.stations.size()) {
        LogError("Station not running", 255, 255);
        return 255;
    }
    return service::StationIndex(site.stations[position].hostId);
}

}  // namespace qm
