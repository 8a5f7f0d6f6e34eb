// Reading the packet log QMPktLog.txt back for field diagnosis: each line,
// "<ms> <tag><XX >...| <host> <port> <date> <time>", becomes one line of a
// readable timeline with the milliseconds since the line before, the
// wall-clock time, the station (host id and port), the direction, the
// terminal, the frame kind, the command and what it means on that road,
// fragment or record numbers, the payload as UTF-8 text and the checksum
// verdict; the receiver's rejections are spelled out. Logs of earlier
// versions, without station and time, read with "-" in those columns.
//
// The log is outside input (copied off a site, perhaps cut short or edited),
// so nothing in it is trusted: a line that does not read as an entry is
// reported as malformed, with its line number, and decoding goes on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm::pktlog {

// The longest line the link writes is an entry of 255 bytes, about 790
// characters; anything much longer is not an entry and is not held.
inline constexpr size_t kMaxLogLine = 1024;

// One log line, without its line end, as one timeline line without a line
// end. `lineNumber` (1-based) names the line in a malformed report;
// *malformed, when given, says whether the line was one.
std::string DecodeLine(std::string_view line, size_t lineNumber, bool* malformed = nullptr);

// Cuts a log, fed in chunks of any size, into lines (LF or CR LF) and
// decodes each as it completes. It holds at most kMaxLogLine characters of a
// line: a longer line is reported as malformed with its length.
class LogDecoder {
  public:
    // Appends the timeline lines of every line completed by `chunk` to
    // `out`, each ending in '\n'; the reports of malformed ones also to
    // *malformed when given.
    void Feed(std::string_view chunk, std::string& out, std::string* malformed = nullptr);
    // The end of the log: decodes a last line that has no line end.
    void Finish(std::string& out, std::string* malformed = nullptr);
    // The lines read so far that were not entries.
    size_t MalformedLines() const { return malformedLines_; }

  private:
    void EndLine(std::string& out, std::string* malformed);

    std::string line_;
    size_t lineLength_ = 0;  // of the whole line, held or not
    size_t lineNumber_ = 0;
    size_t malformedLines_ = 0;
};

}  // namespace qm::pktlog
