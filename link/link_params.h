// Process-wide link parameters and the venue title.
//
// They are plain values written by start-up and by the service API at any
// time and read by the station threads at each use, so a change takes effect
// from the next wait that reads it. Atomics keep those unlocked reads sound.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace qm {

inline constexpr uint32_t kDefaultRetryTimes = 5;
inline constexpr uint32_t kDefaultBeaconInterval = 100;  // ms of quiet that ends a dwell
inline constexpr uint32_t kDefaultBeaconTimeout = 3000;  // ms to wait for an exchange

struct LinkParams {
    std::atomic<uint32_t> retryTimes{kDefaultRetryTimes};
    std::atomic<uint32_t> beaconInterval{kDefaultBeaconInterval};
    std::atomic<uint32_t> beaconTimeout{kDefaultBeaconTimeout};
};

LinkParams& Params();

inline constexpr size_t kTitleSize = 20;

// The 20-byte venue title sent with the clock reply; all zero until set
// (the clock reply then sends 20 blanks).
void SetVenueTitle(const std::array<uint8_t, kTitleSize>& title);
std::array<uint8_t, kTitleSize> VenueTitle();

}  // namespace qm
