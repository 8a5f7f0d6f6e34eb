// The reply sender: replies that the manager's window hands over are sent by
// a thread of their station, in the order they came, so that the window never
// waits on the radio. A terminal that does not acknowledge keeps its station's
// sender busy for RetryTimes x 500 ms; the window, the other stations and the
// back-end's next notices go on meanwhile.
#pragma once

#include <cstdint>
#include <span>

#include "link/link_state.h"

namespace qm {

// Replies one station holds at most before it refuses more: far beyond one
// outstanding exchange for each of its 200 terminals.
inline constexpr size_t kReplyQueueDepth = 400;

// Hands a copy of a reply to the station's reply sender; the caller's buffer
// is free again on return. Returns 1 when it is queued; 0, logged, when the
// station or the terminal is unknown or the queue is full (the terminal's
// exchange then ends). A reply the sender cannot get through is logged as
// "Send Error", as a refused one is.
int QueueReply(Link& link, uint8_t dcbId, uint8_t hostId, uint8_t command,
               std::span<const uint8_t> data);

}  // namespace qm
