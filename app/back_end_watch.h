// Whether the back-end is still there: a manager whose back-end has ended
// would hold the serial ports with nobody to serve, so it closes once the
// back-end's window has been gone for a while.
//
// The window is looked at every CheckPeriodMs (its socket exists and takes
// connections, or not); the watch turns those sightings into the changes
// that the manager logs and acts on. A window gone for less than the bound
// and back again (a back-end starting over under the same handle) changes
// nothing but two log lines.
#pragma once

#include <cstdint>
#include <optional>

namespace qm {

// The bound when QM_BACKEND_GONE_SECONDS does not name another.
inline constexpr int64_t kDefaultBackEndGoneMs = 30000;

// The bound: QM_BACKEND_GONE_SECONDS, a whole number of seconds from 1 to
// 86400, when set to one; otherwise kDefaultBackEndGoneMs.
int64_t BackEndGoneBoundMs();

class BackEndWatch {
  public:
    enum class Change {
        kNone,
        kGone,     // first sighting of the window gone
        kBack,     // there again before the bound; GoneForMs tells how long it was away
        kTooLong,  // gone for the bound, reported once
    };

    explicit BackEndWatch(int64_t boundMs) : boundMs_(boundMs) {}

    Change Observe(bool present, int64_t nowMs);
    // How long the window had been gone at the last sighting (for kBack:
    // the absence that just ended).
    int64_t GoneForMs() const { return goneForMs_; }
    int64_t BoundMs() const { return boundMs_; }
    // How often to look: a few times within the bound, at most every 2 s.
    uint32_t CheckPeriodMs() const;

  private:
    const int64_t boundMs_;
    std::optional<int64_t> goneSince_;
    int64_t goneForMs_ = 0;
    bool reported_ = false;
};

}  // namespace qm
