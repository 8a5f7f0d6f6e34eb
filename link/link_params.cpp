#include "link/link_params.h"

#include <mutex>

#include "platform/profile.h"

namespace qm {
namespace {

std::mutex g_titleLock;
std::array<uint8_t, kTitleSize> g_title{};

// A value written in a file may be a whole line: the log shows its start.
constexpr size_t kWrittenShown = 40;

std::string Note(std::string_view source, const SettingRange& range, std::string_view written,
                 const std::string& problem, uint32_t used) {
    std::string note(source);
    note += ' ';
    note += range.key;
    note += '=';
    if (written.size() > kWrittenShown) {
        note.append(written.substr(0, kWrittenShown));
        note += "...";
    } else {
        note.append(written);
    }
    note += ' ' + problem + ": " + std::to_string(used) + " used";
    return note;
}

}  // namespace

SettingVerdict JudgeSetting(std::string_view source, const SettingRange& range,
                            std::string_view written) {
    if (written.empty())
        return {range.defaultValue, {}};
    size_t digits = 0;
    const uint32_t n = LeadingDecimal(written, &digits);
    if (digits == 0)
        return {range.defaultValue,
                Note(source, range, written, "not a number", range.defaultValue)};
    const uint32_t used = range.Nearest(n);
    if (used != n)
        return {used,
                Note(source, range, written,
                     "out of range " + std::to_string(range.min) + ".." + std::to_string(range.max),
                     used)};
    if (digits != written.size())
        return {used, Note(source, range, written, "not a plain number", used)};
    return {used, {}};
}

LinkParams& Params() {
    static LinkParams params;
    return params;
}

void SetVenueTitle(const std::array<uint8_t, kTitleSize>& title) {
    std::lock_guard<std::mutex> hold(g_titleLock);
    g_title = title;
}

std::array<uint8_t, kTitleSize> VenueTitle() {
    std::lock_guard<std::mutex> hold(g_titleLock);
    return g_title;
}

}  // namespace qm
