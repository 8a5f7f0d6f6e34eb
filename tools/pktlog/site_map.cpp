#include "tools/pktlog/site_map.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/back_end_file.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "service/qmsdk.h"

namespace qm::pktlog {
namespace {

// The manager's reading rules for these two files: lines of at most 99
// bytes (a longer one goes on as the next line), a line beginning with a
// blank, CR or LF skipped, the first two fields split at blanks and tabs,
// each number its leading digits taken modulo 256.
constexpr int kLineBuffer = 100;
constexpr const char* kSeparators = " \t\r\n";

uint8_t LeadingNumber(const std::string& s) {
    unsigned value = 0;
    for (size_t i = 0; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = (value * 10 + static_cast<unsigned>(s[i] - '0')) & 0xFFu;
    return static_cast<uint8_t>(value);
}

template <typename OnLine>
void ForEachTwoFieldLine(const std::string& dir, const char* name, OnLine onLine) {
    FileHandle f = OpenBackEndFile(dir, name);
    if (!f)
        return;
    char line[kLineBuffer];
    while (std::fgets(line, sizeof line, f.get())) {
        if (line[0] == '\r' || line[0] == '\n' || line[0] == ' ' || line[0] == '\0')
            continue;
        std::string fields[2];
        int count = 0;
        const char* p = line;
        while (count < 2) {
            p += std::strspn(p, kSeparators);
            if (*p == '\0')
                break;
            const size_t len = std::strcspn(p, kSeparators);
            fields[count++].assign(p, len);
            p += len;
        }
        if (count == 2)
            onLine(fields[0], fields[1]);
    }
}

// A port name as shown: printable ASCII as it is, other bytes in hex.
std::string Shown(const std::string& port) {
    std::string out;
    for (const char c : port) {
        const auto b = static_cast<uint8_t>(c);
        if (b > 0x20 && b < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

struct Station {
    uint8_t hostId;
    std::string port;
    size_t terminals = 0;
};

}  // namespace

std::optional<StationMap> StationMap::Load(const std::string& programDir) {
    const std::string txt = programDir + "/TXT";
    if (!IsFolder(txt))
        return std::nullopt;
    std::vector<Station> stations;
    ForEachTwoFieldLine(txt, "基站.TXT", [&](const std::string& host, const std::string& port) {
        if (port.size() <= kPortNameMax && stations.size() < QM_MAX_STATIONS)
            stations.push_back({LeadingNumber(host), port});
    });
    // For each DCB id, the station records it is listed at.
    std::vector<size_t> at[256];
    ForEachTwoFieldLine(txt, "点菜机.TXT", [&](const std::string& dcb, const std::string& host) {
        const uint8_t dcbId = LeadingNumber(dcb);
        const uint8_t hostId = LeadingNumber(host);
        for (size_t i = 0; i < stations.size(); ++i) {
            if (stations[i].hostId != hostId || stations[i].terminals >= QM_MAX_TERMINALS)
                continue;
            ++stations[i].terminals;
            if (at[dcbId].empty() || at[dcbId].back() != i)
                at[dcbId].push_back(i);
        }
    });
    StationMap map;
    for (size_t id = 0; id < 256; ++id) {
        std::vector<size_t>& records = at[id];
        std::sort(records.begin(), records.end());
        records.erase(std::unique(records.begin(), records.end()), records.end());
        if (records.empty())
            map.names_[id] = "-";
        else if (records.size() > 1)
            map.names_[id] = "?";
        else
            map.names_[id] = std::to_string(stations[records[0]].hostId) + ":" +
                             Shown(stations[records[0]].port);
    }
    return map;
}

}  // namespace qm::pktlog
