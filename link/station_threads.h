// The four threads of an opened base station. Each runs until the link's
// stop event is set, and counts ready down once, as it reaches its first
// wait; it never touches ready afterwards.
#pragma once

#include <latch>

#include "link/link_state.h"

namespace qm {

void WriterThread(Link& link, StationLink& station, std::latch& ready);
void BeaconThread(Link& link, StationLink& station, std::latch& ready);
void FrameHandlerThread(Link& link, StationLink& station, std::latch& ready);
void ReaderThread(Link& link, StationLink& station, std::latch& ready);

}  // namespace qm
