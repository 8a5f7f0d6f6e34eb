#include "tools/devsim/site.h"

namespace qm::devsim {

namespace {

// The manager reads each line into a 100-byte buffer.
constexpr size_t kLinePiece = 99;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    constexpr std::string_view kSeparators = " \t\r\n";
    size_t at = line.find_first_not_of(kSeparators);
    while (at != std::string_view::npos) {
        const size_t end = line.find_first_of(kSeparators, at);
        fields.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
        at = end == std::string_view::npos ? end : line.find_first_not_of(kSeparators, end);
    }
    return fields;
}

uint8_t Number(std::string_view field) {
    unsigned value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') {
            break;
        }
        value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
    }
    return static_cast<uint8_t>(value);
}

bool Skipped(const std::string& line) {
    return line.empty() || line[0] == ' ' || line[0] == '\r' || line[0] == '\n';
}

}  // namespace

std::vector<std::string> SiteLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t length = 0;
        while (length < kLinePiece && at + length < text.size()) {
            ++length;
            if (text[at + length - 1] == '\n') {
                break;
            }
        }
        lines.emplace_back(text.substr(at, length));
        at += length;
    }
    return lines;
}

namespace {

// Calls take(fields) for each line of a site file that holds at least two
// fields.
template <typename Take>
void ForEachRecord(std::string_view text, Take take) {
    for (const std::string& line : SiteLines(text)) {
        if (Skipped(line)) {
            continue;
        }
        const auto fields = Fields(line);
        if (fields.size() >= 2) {
            take(fields);
        }
    }
}

}  // namespace

std::vector<SiteStation> ParseStations(std::string_view text) {
    std::vector<SiteStation> stations;
    ForEachRecord(text, [&](const std::vector<std::string_view>& fields) {
        stations.push_back(
            SiteStation{Number(fields[0]), std::string(fields[1].substr(0, kPortNameBytes))});
    });
    return stations;
}

std::vector<SiteTerminal> ParseTerminals(std::string_view text) {
    std::vector<SiteTerminal> terminals;
    ForEachRecord(text, [&](const std::vector<std::string_view>& fields) {
        terminals.push_back(SiteTerminal{Number(fields[0]), Number(fields[1])});
    });
    return terminals;
}

}  // namespace qm::devsim
