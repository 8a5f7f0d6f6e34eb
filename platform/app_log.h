// The application log QMLog.txt and the debug level that gates all logging.
//
// Every layer writes here (start-up, the link's threads, the service), so it
// sits at the bottom beside the other process-wide services. The file is
// opened by its relative name for each line, in the current folder of the
// moment, and closed again, so an operator can move or delete it at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace qm {

// Thresholds of the log sites.
inline constexpr uint32_t kLogErrors = 1;    // errors and events
inline constexpr uint32_t kLogDownload = 3;  // download tracing
inline constexpr uint32_t kLogPackets = 4;   // the packet log

// The process-wide debug level: kDefaultDebugLevel until start-up reads
// QM.ini, and where QM.ini names none.
inline constexpr uint32_t kDefaultDebugLevel = kLogErrors;
uint32_t DebugLevel();
void SetDebugLevel(uint32_t level);
inline bool LogEnabled(uint32_t threshold) {
    return DebugLevel() >= threshold;
}

// Appends one line "[QMAPP] MM-DD hh:mm:ss (HostID nnn  DCBID nnn)<text>\r\n"
// to QMLog.txt in the current folder. Only the low 8 bits of each number are
// printed. The debug-level test is the caller's (LogAt and LogError make
// it). Lines from different threads never interleave. A file that cannot be
// opened loses the line.
void AppLog(const char* text, uint32_t hostNumber, uint32_t dcbNumber);

// AppLog when the debug level reaches the threshold: what every log site
// calls, so that no site can forget its level.
inline void LogAt(uint32_t threshold, const char* text, uint32_t hostNumber, uint32_t dcbNumber) {
    if (LogEnabled(threshold))
        AppLog(text, hostNumber, dcbNumber);
}
// Errors and events, the threshold of most log sites.
inline void LogError(const char* text, uint32_t hostNumber, uint32_t dcbNumber) {
    LogAt(kLogErrors, text, hostNumber, dcbNumber);
}

// Formats the line AppLog writes, without CR LF, for the given local time.
// Exposed for tests.
int FormatAppLogLine(char* out, size_t size, const struct tm& local, const char* text,
                     uint32_t hostNumber, uint32_t dcbNumber);

}  // namespace qm
