#include "tools/pktlog/wall_clock.h"

#include <cstdio>
#include <ctime>

namespace qm::pktlog {
namespace {

constexpr size_t kMaxIntervalDigits = 10;

bool Digits(std::string_view text, size_t from, size_t count, int* value) {
    *value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

uint64_t LineInterval(std::string_view line) {
    uint64_t value = 0;
    size_t i = 0;
    for (; i < line.size() && i <= kMaxIntervalDigits && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(line[i] - '0');
    if (i == 0 || i > kMaxIntervalDigits || i >= line.size() || line[i] != ' ')
        return 0;
    return value;
}

std::string LocalTimeText(int64_t msSinceEpoch) {
    int64_t seconds = msSinceEpoch / 1000;
    int64_t ms = msSinceEpoch % 1000;
    if (ms < 0) {
        ms += 1000;
        --seconds;
    }
    const auto t = static_cast<time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return "-";
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
    return n > 0 && static_cast<size_t>(n) < sizeof text ? std::string(text, n) : "-";
}

std::optional<int64_t> ParseLocalTime(std::string_view text) {
    int year, month, day, hour, minute, second, ms = 0;
    if (text.size() != 19 && text.size() != 23)
        return std::nullopt;
    if (!Digits(text, 0, 4, &year) || text[4] != '-' || !Digits(text, 5, 2, &month) ||
        text[7] != '-' || !Digits(text, 8, 2, &day) || text[10] != ' ' ||
        !Digits(text, 11, 2, &hour) || text[13] != ':' || !Digits(text, 14, 2, &minute) ||
        text[16] != ':' || !Digits(text, 17, 2, &second))
        return std::nullopt;
    if (text.size() == 23 && (text[19] != '.' || !Digits(text, 20, 3, &ms)))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    // mktime moves a day or an hour that does not exist (February 30, 25:00)
    // on to one that does: such a time was not what was meant.
    if (t == static_cast<time_t>(-1) || tm.tm_year != year - 1900 || tm.tm_mon != month - 1 ||
        tm.tm_mday != day || tm.tm_min != minute || tm.tm_sec != second)
        return std::nullopt;
    return static_cast<int64_t>(t) * 1000 + ms;
}

}  // namespace qm::pktlog
