// The five threads of an opened base station. Each runs until the link's
// stop event is set, and counts ready down once, as it reaches its first
// wait; it never touches ready afterwards.
#pragma once

#include <cstdint>
#include <latch>
#include <span>

#include "link/link_state.h"

namespace qm {

void WriterThread(Link& link, StationLink& station, std::latch& ready);
void BeaconThread(Link& link, StationLink& station, std::latch& ready);
void FrameHandlerThread(Link& link, StationLink& station, std::latch& ready);
void ReaderThread(Link& link, StationLink& station, std::latch& ready);
void ReplySenderThread(Link& link, StationLink& station, std::latch& ready);

// What the reader does with bytes it has read: cuts them into frames and
// settles each one (acknowledgements and download answers at once, the rest
// onto the station's hand-off queue). The caller holds the receive lock.
void TakeReceivedBytes(Link& link, StationLink& station, std::span<const uint8_t> bytes);
// What the frame handler does with one frame taken off the hand-off queue.
// Called by the station's frame handler thread alone, which owns the
// reassembly state.
void HandleReceivedFrame(Link& link, StationLink& station, const Frame& frame);

}  // namespace qm
