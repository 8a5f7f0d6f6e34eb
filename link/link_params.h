// Process-wide link parameters and the venue title.
//
// They are plain values written by start-up and by the service API at any
// time and read by the station threads at each use, so a change takes effect
// from the next wait that reads it. Atomics keep those unlocked reads sound.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

inline constexpr uint32_t kDefaultRetryTimes = 5;
inline constexpr uint32_t kDefaultBeaconInterval = 100;  // ms of quiet that ends a dwell
inline constexpr uint32_t kDefaultBeaconTimeout = 3000;  // ms to wait for an exchange

// The values a setting accepts and the one it takes when none is given. The
// QM.ini reader and SDKSetParam judge the link parameters by the same ranges,
// so a value means the same whichever way it came.
struct SettingRange {
    const char* key;  // its name in QM.ini and in log lines
    uint32_t min;
    uint32_t max;
    uint32_t defaultValue;
    constexpr bool Holds(uint32_t v) const { return v >= min && v <= max; }
    constexpr uint32_t Nearest(uint32_t v) const { return v < min ? min : v > max ? max : v; }
};

// Sendings of a frame, 500 ms apart. A caller waits up to RetryTimes x 500 ms
// for each frame of a reply, so 20 (ten seconds) is already long; 0 keeps
// its meaning: the frame is queued once and nobody waits for it.
inline constexpr SettingRange kRetryTimesRange{"RetryTimes", 0, 20, kDefaultRetryTimes};
// The quiet that ends a beacon's dwell and the answer time of a download
// run. A terminal needs a few milliseconds to answer at all, and a download
// search counts its budget in answer times: at 0 it would never end. Above
// two seconds a round over a full station takes minutes.
inline constexpr SettingRange kBeaconIntervalRange{"BeaconInterVal", 20, 2000,
                                                   kDefaultBeaconInterval};
// The beacon's wait for a terminal's exchange to finish: a reply's page takes
// four acknowledged frames, so less than 100 ms cuts healthy exchanges short;
// beyond 30 s one silent terminal stalls its whole station.
inline constexpr SettingRange kBeaconTimeoutRange{"BeaconTimeout", 100, 30000,
                                                  kDefaultBeaconTimeout};

// What a setting's value as written comes to: the value used, and a log
// line when that is not simply the value written (empty otherwise).
//  - a number in the range: itself;
//  - a number outside: the nearest bound,
//    "<source> <key>=<written> out of range <min>..<max>: <used> used";
//  - a number followed by other text: the number, judged as above,
//    "<source> <key>=<written> not a plain number: <used> used" when in range;
//  - no number at all (also "-1", "+5"): the default,
//    "<source> <key>=<written> not a number: <default> used".
// An empty text gives the default silently, as a missing key does.
struct SettingVerdict {
    uint32_t used;
    std::string note;
};
SettingVerdict JudgeSetting(std::string_view source, const SettingRange& range,
                            std::string_view written);

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
