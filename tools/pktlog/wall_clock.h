// The wall-clock time of packet-log lines. A line holds only the
// milliseconds since the line before it; the manager opens the file, appends
// one line and closes it again, so the file's modification time is the time
// its last line was written, and every earlier line is that time less the
// intervals of the lines after it. Times are milliseconds since the epoch,
// shown in the local time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::pktlog {

// The interval a line begins with: its leading digits (at most ten, as a
// tick difference has) when a blank follows them, else 0, so that a line
// that is no entry moves no time.
uint64_t LineInterval(std::string_view line);

// "YYYY-MM-DD HH:MM:SS.mmm" in local time.
std::string LocalTimeText(int64_t msSinceEpoch);

// Reads "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD HH:MM:SS.mmm" as local time;
// nullopt for any other text or a date that does not exist.
std::optional<int64_t> ParseLocalTime(std::string_view text);

}  // namespace qm::pktlog
