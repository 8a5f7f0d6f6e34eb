// The settings of one soak run, read from a small text file:
//
//   # comment
//   stations = 8
//   terminals = 200
//
// One "key = value" a line, values are whole decimal numbers. Keys left out
// keep the defaults below; an unknown key or a value out of its range is an
// error, so that a typing mistake never runs a different soak than asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::soak {

struct Settings {
    // The site: base stations (host ids 1..stations, ports COM1..) and the
    // terminals of each (DCB ids 1..terminals on every station).
    int stations = 2;
    int terminals = 20;

    // New items are queued only during the traffic time; the drain then
    // waits, at most drainSeconds, until every item has gone out and every
    // exchange has ended.
    int trafficSeconds = 20;
    int drainSeconds = 30;
    // A terminal with nothing left to say waits a random 0..2*thinkMs before
    // its next item.
    int thinkMs = 2000;

    // Shares of a terminal's items, in percent; the rest are requests with
    // data. Control requests carry a code but no data.
    int clockPercent = 5;
    int controlPercent = 10;
    // Share of the data requests that need several fragments (over 50 bytes),
    // and the largest request.
    int multiFragmentPercent = 30;
    int maxRequestBytes = 600;

    // Shares of the replies of one page (51..200 bytes) and of several pages
    // (paged by the terminal), in percent; the rest fit one frame. The
    // largest reply in 20-byte slots. Replies written during the drain stay
    // within one page, so that no paging outlives the run.
    int onePageReplyPercent = 25;
    int pagedReplyPercent = 10;
    int maxReplySlots = 30;

    // The back-end sends a short message to a random DCB id this often.
    int shortMessageMs = 1000;
    // How long the back-end takes for an answer, random from min to max (ms)
    // for each one: a real back-end does database work. Answers of one
    // station go out in the order asked and at least sameStationGapMs apart,
    // as the README asks of a back-end: R<host>.txt holds one reply.
    int answerMinMs = 0;
    int answerMaxMs = 0;
    int sameStationGapMs = 100;

    // A line without a frame in either direction for this long (ms) counts
    // as a station held up: its beacon waited out BeaconTimeout on an
    // exchange that never ended. Any such stretch fails the run; 0: not
    // checked. Keep it below BeaconTimeout and above the longest answer time.
    int silenceLimitMs = 0;

    // QM.ini of the manager under test.
    int debugLevel = 4;
    int retryTimes = 5;
    int beaconInterval = 100;
    int beaconTimeout = 3000;

    // Resident memory is sampled after warmupSeconds and at the end; more
    // growth than rssGrowthKiB fails the run (0: not checked).
    int warmupSeconds = 10;
    int rssGrowthKiB = 2048;

    // How long the manager has to start and to close.
    int startSeconds = 20;
    int closeSeconds = 20;

    uint32_t seed = 1;
};

// One key of a settings file as the parser takes it: its range and the
// default of a file that leaves it out.
struct SettingKey {
    std::string name;
    int64_t min = 0;
    int64_t max = 0;
    int64_t defaultValue = 0;
};

// Every key a settings file may hold, seed included, in the parser's order;
// docs/soak-settings.md describes the same keys.
std::vector<SettingKey> DescribeKeys();

// nullopt with *error ("line 3: ...") when the text is not valid settings.
std::optional<Settings> ParseSettings(std::string_view text, std::string* error);

// Reads and parses a settings file.
std::optional<Settings> LoadSettings(const std::string& path, std::string* error);

}  // namespace qm::soak
