#include "tools/soak/settings.h"
#include "platform/files.h"

#include <charconv>
#include <limits>
#include <vector>

namespace qm::soak {
namespace {

struct Key {
    const char* name;
    int Settings::*field;
    int64_t min;
    int64_t max;
};

// The station and terminal limits are the manager's own; the rest keep a run
// within what makes sense on one machine.
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = {
        {"stations", &Settings::stations, 1, 8},
        {"terminals", &Settings::terminals, 1, 200},
        {"traffic_seconds", &Settings::trafficSeconds, 1, 24 * 3600},
        {"drain_seconds", &Settings::drainSeconds, 1, 3600},
        {"think_ms", &Settings::thinkMs, 0, 3600 * 1000},
        {"clock_percent", &Settings::clockPercent, 0, 100},
        {"control_percent", &Settings::controlPercent, 0, 100},
        {"multi_fragment_percent", &Settings::multiFragmentPercent, 0, 100},
        {"max_request_bytes", &Settings::maxRequestBytes, 51, 5000},
        {"one_page_reply_percent", &Settings::onePageReplyPercent, 0, 100},
        {"paged_reply_percent", &Settings::pagedReplyPercent, 0, 100},
        {"max_reply_slots", &Settings::maxReplySlots, 11, 250},
        {"short_message_ms", &Settings::shortMessageMs, 10, 3600 * 1000},
        {"answer_min_ms", &Settings::answerMinMs, 0, 60000},
        {"answer_max_ms", &Settings::answerMaxMs, 0, 60000},
        {"same_station_gap_ms", &Settings::sameStationGapMs, 0, 10000},
        {"silence_limit_ms", &Settings::silenceLimitMs, 0, 600000},
        {"debug_level", &Settings::debugLevel, 0, 4},
        {"retry_times", &Settings::retryTimes, 1, 100},
        {"beacon_interval", &Settings::beaconInterval, 1, 10000},
        {"beacon_timeout", &Settings::beaconTimeout, 1, 60000},
        {"warmup_seconds", &Settings::warmupSeconds, 0, 24 * 3600},
        {"rss_growth_kib", &Settings::rssGrowthKiB, 0, 1 << 20},
        {"start_seconds", &Settings::startSeconds, 1, 600},
        {"close_seconds", &Settings::closeSeconds, 1, 600},
    };
    return keys;
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool ParseNumber(std::string_view text, int64_t min, int64_t max, int64_t* out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size() && *out >= min && *out <= max;
}

}  // namespace

std::vector<SettingKey> DescribeKeys() {
    const Settings defaults;
    std::vector<SettingKey> keys;
    for (const Key& k : Keys()) keys.push_back({k.name, k.min, k.max, defaults.*k.field});
    keys.push_back({"seed", 0, std::numeric_limits<uint32_t>::max(), defaults.seed});
    return keys;
}

std::optional<Settings> ParseSettings(std::string_view text, std::string* error) {
    Settings s;
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        const auto fail = [&](const std::string& why) {
            *error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        };
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail("not \"key = value\"");
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        int64_t number = 0;
        if (key == "seed") {
            if (!ParseNumber(value, 0, std::numeric_limits<uint32_t>::max(), &number))
                return fail("seed is not a number from 0 to 4294967295");
            s.seed = static_cast<uint32_t>(number);
            continue;
        }
        bool known = false;
        for (const Key& k : Keys()) {
            if (key != k.name)
                continue;
            known = true;
            if (!ParseNumber(value, k.min, k.max, &number))
                return fail(std::string(k.name) + " must be a number from " +
                            std::to_string(k.min) + " to " + std::to_string(k.max));
            s.*k.field = static_cast<int>(number);
        }
        if (!known)
            return fail("unknown key \"" + std::string(key) + "\"");
    }
    if (s.clockPercent + s.controlPercent > 100)
        return (*error = "clock_percent and control_percent add up to more than 100", std::nullopt);
    if (s.answerMinMs > s.answerMaxMs)
        return (*error = "answer_min_ms is above answer_max_ms", std::nullopt);
    if (s.onePageReplyPercent + s.pagedReplyPercent > 100)
        return (*error = "one_page_reply_percent and paged_reply_percent add up to more than 100",
                std::nullopt);
    return s;
}

std::optional<Settings> LoadSettings(const std::string& path, std::string* error) {
    const std::optional<std::string> text = ReadWholeFile(path, 1 << 20);
    if (!text) {
        *error = "cannot read " + path;
        return std::nullopt;
    }
    auto settings = ParseSettings(*text, error);
    if (!settings)
        *error = path + ": " + *error;
    return settings;
}

}  // namespace qm::soak
