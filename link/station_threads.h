// The four threads of an opened base station. Each runs until the link's
// stop event is set.
#pragma once

#include "link/link_state.h"

namespace qm {

void WriterThread(Link& link, StationLink& station);
void BeaconThread(Link& link, StationLink& station);
void FrameHandlerThread(Link& link, StationLink& station);
void ReaderThread(Link& link, StationLink& station);

}  // namespace qm
