// The small service operations that only store values the link uses later:
// the venue title, the link parameters and the version.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "link/link_params.h"
#include "platform/app_log.h"
#include "service/qmsdk.h"
#include "service/service.h"

namespace qm::service {

void SetVenueTitle(std::span<const uint8_t> title) {
    std::array<uint8_t, kTitleSize> field;
    field.fill(' ');
    if (title.data() != nullptr) {
        if (title.size() >= kTitleSize) {
            std::memcpy(field.data(), title.data(), kTitleSize);
        } else {
            // Centred; with an odd spare the extra blank goes to the right.
            std::memcpy(field.data() + (kTitleSize - title.size()) / 2, title.data(), title.size());
        }
    }
    qm::SetVenueTitle(field);
}

namespace {

// A value outside its range takes the nearest bound, with a log line.
uint32_t Checked(const SettingRange& range, uint32_t value) {
    const SettingVerdict v = JudgeSetting("SDKSetParam", range, std::to_string(value));
    if (!v.note.empty())
        LogError(v.note.c_str(), 255, 255);
    return v.used;
}

}  // namespace

void SetParams(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval) {
    LinkParams& p = Params();
    p.retryTimes = Checked(kRetryTimesRange, retryTimes);
    p.beaconTimeout = Checked(kBeaconTimeoutRange, beaconTimeout);
    p.beaconInterval = Checked(kBeaconIntervalRange, beaconInterval);
}

const char* Version() {
    return SDKGetVersion();
}

}  // namespace qm::service

extern "C" {

QM_API void SDKSetHotelTitle(uint8_t* title, uint32_t length) {
    qm::service::SetVenueTitle({title, title ? length : 0});
}

QM_API void SDKSetParam(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval) {
    qm::service::SetParams(retryTimes, beaconTimeout, beaconInterval);
}

QM_API char* SDKGetVersion(void) {
    static char version[] = "1.07";
    return version;
}

}  // extern "C"
