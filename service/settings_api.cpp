// The small service operations that only store values the link uses later:
// the venue title, the link parameters and the version.
#include <algorithm>
#include <array>
#include <cstring>

#include "link/link_params.h"
#include "service/qmsdk.h"

extern "C" {

QM_API void SDKSetHotelTitle(uint8_t* title, uint32_t length) {
    std::array<uint8_t, qm::kTitleSize> field;
    field.fill(' ');
    if (title != nullptr) {
        if (length >= qm::kTitleSize) {
            std::memcpy(field.data(), title, qm::kTitleSize);
        } else {
            // Centred; with an odd spare the extra blank goes to the right.
            std::memcpy(field.data() + (qm::kTitleSize - length) / 2, title, length);
        }
    }
    qm::SetVenueTitle(field);
}

QM_API void SDKSetParam(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval) {
    qm::LinkParams& p = qm::Params();
    p.retryTimes = retryTimes;
    p.beaconTimeout = beaconTimeout;
    p.beaconInterval = beaconInterval;
}

QM_API char* SDKGetVersion(void) {
    static char version[] = "1.07";
    return version;
}

}  // extern "C"
