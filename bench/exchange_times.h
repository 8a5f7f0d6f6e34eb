// When a request and its reply crossed a simulated line, read back from the
// device simulator's frame records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/frame.h"
#include "tools/devsim/records.h"

namespace qm::bench {

struct ExchangeTimes {
    int64_t lastFragmentUs = -1;  // -1: not in the records
    int64_t replyAtUs = -1;
};

// On the line `port`, for terminal `dcb`: the newest last fragment of a
// request that reached the manager by noticeAtUs, and the first data frame
// the manager sent at or after replyFromUs.
inline ExchangeTimes FindExchangeTimes(const std::vector<devsim::FrameRecord>& records,
                                       const std::string& port, uint8_t dcb, int64_t noticeAtUs,
                                       int64_t replyFromUs) {
    ExchangeTimes times;
    for (const devsim::FrameRecord& r : records) {
        if (r.raw || r.station != port)
            continue;
        const devsim::Frame f = devsim::ParseFrame(r.bytes);
        if (f.kind != devsim::FrameKind::kData || f.address != dcb)
            continue;
        if (r.direction == devsim::Direction::kToManager && f.number == f.total &&
            r.timeUs <= noticeAtUs)
            times.lastFragmentUs = r.timeUs;
        if (r.direction == devsim::Direction::kFromManager && r.timeUs >= replyFromUs &&
            times.replyAtUs < 0)
            times.replyAtUs = r.timeUs;
    }
    return times;
}

}  // namespace qm::bench
