#include "app/back_end_watch.h"

#include <algorithm>
#include <cstdlib>

namespace qm {

int64_t BackEndGoneBoundMs() {
    const char* text = std::getenv("QM_BACKEND_GONE_SECONDS");
    if (!text || !*text)
        return kDefaultBackEndGoneMs;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*end != '\0' || seconds < 1 || seconds > 86400)
        return kDefaultBackEndGoneMs;
    return static_cast<int64_t>(seconds) * 1000;
}

BackEndWatch::Change BackEndWatch::Observe(bool present, int64_t nowMs) {
    if (present) {
        if (!goneSince_)
            return Change::kNone;
        goneForMs_ = nowMs - *goneSince_;
        goneSince_.reset();
        // After kTooLong the manager closes; a late return says nothing new.
        if (reported_)
            return Change::kNone;
        return Change::kBack;
    }
    if (!goneSince_) {
        goneSince_ = nowMs;
        goneForMs_ = 0;
        reported_ = false;
        return Change::kGone;
    }
    goneForMs_ = nowMs - *goneSince_;
    if (reported_ || goneForMs_ < boundMs_)
        return Change::kNone;
    reported_ = true;
    return Change::kTooLong;
}

uint32_t BackEndWatch::CheckPeriodMs() const {
    return static_cast<uint32_t>(std::clamp<int64_t>(boundMs_ / 4, 100, 2000));
}

}  // namespace qm
