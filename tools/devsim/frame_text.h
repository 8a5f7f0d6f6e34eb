// Readable one-line renderings of frames, for traces.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tools/devsim/records.h"

namespace qm::devsim {

// Printable ASCII as it is, everything else (GBK included) as \xNN; quotes
// and backslashes escaped.
std::string Printable(std::span<const uint8_t> bytes);
std::string Hex(std::span<const uint8_t> bytes);

// "+12.345 COM3 -> T012 DATA cmd=0x0D k=1/1 \"...\"": seconds since
// `originUs`, the line, the direction (-> towards the terminals, <- towards
// the manager), the terminal and what the frame says.
std::string DescribeFrame(const FrameRecord& record, int64_t originUs);

// A plain beacon (the 4-byte poll of one terminal) or a terminal's 4-byte
// answer to it: they go round all the time and say nothing about the
// service, so a trace may leave them out. Message beacons, raw bytes and
// malformed frames are never plain.
bool IsPlainBeacon(const FrameRecord& record);

}  // namespace qm::devsim
