// Reading the packet log QMPktLog.txt back for field diagnosis: each line,
// "<ms> <tag><XX >...", becomes one line of a readable timeline with the
// milliseconds since the line before, the wall-clock time, the station
// (host id and port), the direction, the terminal, the frame kind, the
// command and what it means on that road, fragment or record numbers, the
// payload as UTF-8 text and the checksum verdict; the receiver's rejections
// are spelled out.
//
// The log line itself names neither the time of day nor the station: the
// time comes from when the log's last line was written (tools/pktlog/
// wall_clock.h), the station from the site's terminal and station files
// (tools/pktlog/site_map.h). A column that cannot be known shows "-".
//
// The log is outside input (copied off a site, perhaps cut short or edited),
// so nothing in it is trusted: a line that does not read as an entry is
// reported as malformed, with its line number, and decoding goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/pktlog/site_map.h"

namespace qm::pktlog {

// The longest line the link writes is an entry of 255 bytes, about 790
// characters; anything much longer is not an entry and is not held.
inline constexpr size_t kMaxLogLine = 1024;

// One log line, without its line end, as one timeline line without a line
// end. `lineNumber` (1-based) names the line in a malformed report;
// *malformed, when given, says whether the line was one. The station column
// comes from `stations` ("-" without), the wall-clock column from `wallMs`,
// the line's time in milliseconds since the epoch ("-" without).
std::string DecodeLine(std::string_view line, size_t lineNumber, bool* malformed = nullptr,
                       const StationMap* stations = nullptr,
                       std::optional<int64_t> wallMs = std::nullopt);

// Cuts a log, fed in chunks of any size, into lines (LF or CR LF). It holds
// at most kMaxLogLine characters of a line, and hands each line to onLine as
// (the characters held, the whole line's length).
class LineCutter {
  public:
    template <typename OnLine>
    void Feed(std::string_view chunk, OnLine onLine) {
        while (!chunk.empty()) {
            const size_t end = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, end);
            lineLength_ += piece.size();
            if (line_.size() < kMaxLogLine)
                line_.append(piece.substr(0, kMaxLogLine - line_.size()));
            if (end == std::string_view::npos)
                return;
            EndLine(onLine);
            chunk.remove_prefix(end + 1);
        }
    }
    // The end of the log: a last line that has no line end.
    template <typename OnLine>
    void Finish(OnLine onLine) {
        if (lineLength_ > 0)
            EndLine(onLine);
    }

  private:
    template <typename OnLine>
    void EndLine(OnLine& onLine) {
        onLine(std::string_view(line_), lineLength_);
        line_.clear();
        lineLength_ = 0;
    }

    std::string line_;
    size_t lineLength_ = 0;  // of the whole line, held or not
};

// The first pass over a log whose wall-clock times are wanted: the sum of
// the intervals of all its lines (LineInterval), lines cut as LogDecoder
// cuts them.
class IntervalSum {
  public:
    void Feed(std::string_view chunk);
    void Finish();
    uint64_t Total() const { return total_; }

  private:
    LineCutter cutter_;
    uint64_t total_ = 0;
};

// What the decoder knows of the log beyond its lines.
struct Columns {
    const StationMap* stations = nullptr;  // the site's, or none
    // When the log's last line was written, in milliseconds since the epoch,
    // and the intervals of all its lines summed (IntervalSum): the time of
    // a line is lastLineMs less the intervals of the lines after it.
    std::optional<int64_t> lastLineMs;
    uint64_t totalIntervalMs = 0;
};

// Decodes a log fed in chunks of any size, each line as it completes; a line
// longer than kMaxLogLine is reported as malformed with its length.
class LogDecoder {
  public:
    LogDecoder() = default;
    explicit LogDecoder(const Columns& columns);

    // Appends the timeline lines of every line completed by `chunk` to
    // `out`, each ending in '\n'; the reports of malformed ones also to
    // *malformed when given.
    void Feed(std::string_view chunk, std::string& out, std::string* malformed = nullptr);
    // The end of the log: decodes a last line that has no line end.
    void Finish(std::string& out, std::string* malformed = nullptr);
    // The lines read so far that were not entries.
    size_t MalformedLines() const { return malformedLines_; }

  private:
    void EndLine(std::string_view line, size_t length, std::string& out, std::string* malformed);

    Columns columns_;
    LineCutter cutter_;
    size_t lineNumber_ = 0;
    size_t malformedLines_ = 0;
    uint64_t elapsedMs_ = 0;  // the intervals of the lines so far
};

}  // namespace qm::pktlog
