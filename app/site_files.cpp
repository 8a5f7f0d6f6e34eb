#include "app/site_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/app_log.h"
#include "platform/back_end_file.h"
#include "platform/files.h"
#include "service/service.h"

namespace qm {
namespace {

// Station and terminal lines are read 99 bytes at a time: a longer line
// goes on as the next line, as the back-end's files have always been read.
constexpr int kSiteLineBuffer = 100;
constexpr int kShortMessageBuffer = 260;
constexpr size_t kShortMessageText = 40;
constexpr const char* kSeparators = " \t\r\n";

// The number a field begins with, kept as 8 bits (the number modulo 256).
uint8_t LeadingNumber(const char* s, size_t maxChars) {
    unsigned value = 0;
    for (size_t i = 0; i < maxChars && s[i] >= '0' && s[i] <= '9'; ++i)
        value = (value * 10 + static_cast<unsigned>(s[i] - '0')) & 0xFFu;
    return static_cast<uint8_t>(value);
}

// The first two fields of a station or terminal line. A line whose first
// byte is CR, LF or a blank is skipped as a whole; a tab-first line is read.
struct TwoFields {
    int count = 0;
    std::string first, second;
};

TwoFields SplitSiteLine(const char* line) {
    TwoFields f;
    if (line[0] == '\r' || line[0] == '\n' || line[0] == ' ' || line[0] == '\0')
        return f;
    const char* p = line;
    while (f.count < 2) {
        p += std::strspn(p, kSeparators);
        if (*p == '\0')
            break;
        size_t len = std::strcspn(p, kSeparators);
        (f.count == 0 ? f.first : f.second).assign(p, len);
        ++f.count;
        p += len;
    }
    return f;
}

// Hands the first two fields of each line of the site file that has both to
// onLine. Returns 1 when the file was read, 0 when it is missing.
template <typename OnLine>
int ForEachTwoFieldLine(const SiteContext& site, const char* name, OnLine onLine) {
    FileHandle f = OpenBackEndFile(site.txtDir, name);
    if (!f)
        return 0;
    char line[kSiteLineBuffer];
    while (std::fgets(line, sizeof line, f.get())) {
        const TwoFields fields = SplitSiteLine(line);
        if (fields.count == 2)
            onLine(fields);
    }
    return 1;
}

}  // namespace

int LoadStations(SiteContext& site) {
    site.stationCount = 0;
    site.tooManyStations = false;
    site.refusedStations.clear();
    // A station without a port name cannot be opened: it is no station.
    return ForEachTwoFieldLine(site, kStationFile, [&](const TwoFields& fields) {
        const uint8_t hostId = LeadingNumber(fields.first.c_str(), fields.first.size());
        // ttyUSB0 cut to ttyUSB, or /dev/ttyUSB0 to /dev/t, names some other
        // entry of ports/ or nothing at all; such devices are reached through
        // a short name mapped in ports/.
        if (fields.second.size() > sizeof(_DEVINFO{}.portName)) {
            site.refusedStations.push_back({hostId, fields.second});
            return;
        }
        if (site.stationCount >= QM_MAX_STATIONS) {
            site.tooManyStations = true;
            return;
        }
        _DEVINFO& st = site.stations[site.stationCount];
        st = _DEVINFO{};
        st.hostId = hostId;
        std::memcpy(st.portName, fields.second.data(), fields.second.size());
        st.dcbCount = 0;
        ++site.stationCount;
    });
}

int LoadTerminals(SiteContext& site) {
    // A terminal without a host id belongs to no station.
    return ForEachTwoFieldLine(site, kTerminalFile, [&](const TwoFields& fields) {
        uint8_t dcbId = LeadingNumber(fields.first.c_str(), fields.first.size());
        uint8_t hostId = LeadingNumber(fields.second.c_str(), fields.second.size());
        for (uint32_t i = 0; i < site.stationCount; ++i) {
            _DEVINFO& st = site.stations[i];
            if (st.hostId != hostId || st.dcbCount >= QM_MAX_TERMINALS)
                continue;
            st.dcbIds[st.dcbCount] = dcbId;
            st.dcbState[st.dcbCount] = 0;
            ++st.dcbCount;
        }
    });
}

int LoadVenueTitle(SiteContext& site) {
    FileHandle f = OpenBackEndFile(site.txtDir, "BT.txt");
    if (!f)
        f = OpenBackEndFile(site.txtDir, "酒店名称.txt");
    if (!f)
        return 0;
    char line[kSiteLineBuffer] = {};
    if (!std::fgets(line, sizeof line, f.get()))
        line[0] = '\0';
    f.reset();

    size_t length = std::min(std::strlen(line), kTitleSize);
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) --length;
    service::SetVenueTitle({reinterpret_cast<const uint8_t*>(line), length});
    return 1;
}

void LoadShortMessage(SiteContext& site) {
    const std::string found = FindFileIgnoringCase(site.txtDir, "DX.txt");
    if (found.empty())
        return;
    const std::string path = site.txtDir + "/" + found;
    FileHandle f(std::fopen(path.c_str(), "rbe"));
    if (!f)
        return;
    char line[kShortMessageBuffer] = {};
    if (!std::fgets(line, sizeof line, f.get()))
        line[0] = '\0';
    f.reset();
    // The file is consumed whatever it holds, so a bad message is not
    // read again at the next notice.
    DeleteFile(path);

    if (std::strlen(line) < 9)
        return;
    uint8_t number = LeadingNumber(line, 3);
    uint8_t dcbId = LeadingNumber(line + 4, 3);
    char text[kShortMessageText + 1] = {};
    size_t n = std::strcspn(line + 8, "\r\n");
    n = std::min(n, kShortMessageText);
    std::memcpy(text, line + 8, n);
    if (text[0] == '\0')
        return;
    service::SetShortMessage(number, dcbId, reinterpret_cast<const uint8_t*>(text));
}

}  // namespace qm
