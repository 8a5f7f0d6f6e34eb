// The download run and the link test share one lock: their starts, stops
// and status queries come from the caller's threads and never overlap, and
// the service's stop takes the same lock to end both before the link goes.
#pragma once

#include <mutex>

namespace qm::service {

std::mutex& RunLock();

// Whether a download run holds the link (from its start to its stop); the
// caller holds RunLock.
bool DownloadActive();

// Stop the run or the test; the caller holds RunLock.
void StopDownloadLocked();
void StopLinkTestLocked();

}  // namespace qm::service
