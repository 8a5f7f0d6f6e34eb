// The readers of the site files on arbitrary contents. The first input byte
// picks the file: 0 the stations, 1 the terminals, 2 the venue title, 3 the
// short message; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/site_files.h"
#include "fuzz/fuzz_check.h"
#include "link/link_params.h"
#include "link/short_message.h"
#include "platform/app_log.h"
#include "platform/site_folders.h"

namespace {

using namespace qm;
namespace fs = std::filesystem;

constexpr std::string_view kSeparators(" \t\r\n", 4);
// Host ids of the station table the terminal file is read against; two
// stations share host id 1 and must get the same terminals.
constexpr uint8_t kHosts[] = {1, 2, 1, 3};

std::string PortName(const _DEVINFO& st) {
    return std::string(st.portName, strnlen(st.portName, sizeof st.portName));
}

void CheckStations(const SiteContext& site, std::string_view file) {
    QM_FUZZ_CHECK(site.stationCount <= QM_MAX_STATIONS);
    QM_FUZZ_CHECK(!site.tooManyStations || site.stationCount == QM_MAX_STATIONS);
    // A station line holds at least a host id, a separator and a port name.
    QM_FUZZ_CHECK(site.stationCount * 3 <= file.size());
    for (uint32_t i = 0; i < site.stationCount; ++i) {
        const _DEVINFO& st = site.stations[i];
        const std::string port = PortName(st);
        QM_FUZZ_CHECK(!port.empty() && port.find_first_of(kSeparators) == std::string::npos);
        // The name is the second field of a line: a separator stands before it.
        bool found = false;
        for (size_t at = file.find(port, 1); at != std::string_view::npos && !found;
             at = file.find(port, at + 1))
            found = kSeparators.find(file[at - 1]) != std::string_view::npos;
        QM_FUZZ_CHECK(found);
        QM_FUZZ_CHECK(st.dcbCount == 0);
    }
}

void CheckTerminals(const SiteContext& site, std::string_view file) {
    QM_FUZZ_CHECK(site.stationCount == std::size(kHosts));
    for (uint32_t i = 0; i < site.stationCount; ++i) {
        const _DEVINFO& st = site.stations[i];
        QM_FUZZ_CHECK(st.hostId == kHosts[i]);
        QM_FUZZ_CHECK(st.dcbCount <= QM_MAX_TERMINALS && st.dcbCount * 3 <= file.size());
        for (uint32_t t = 0; t < st.dcbCount; ++t) QM_FUZZ_CHECK(st.dcbState[t] == 0);
    }
    const _DEVINFO& a = site.stations[0];
    const _DEVINFO& b = site.stations[2];
    QM_FUZZ_CHECK(a.dcbCount == b.dcbCount);
    QM_FUZZ_CHECK(std::memcmp(a.dcbIds, b.dcbIds, a.dcbCount) == 0);
}

// The number a field begins with, modulo 256.
uint8_t LeadingNumber(std::string_view digits) {
    unsigned value = 0;
    for (size_t i = 0; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i)
        value = value * 10 + static_cast<unsigned>(digits[i] - '0');
    return static_cast<uint8_t>(value);
}

// The first line as a read of at most `most` bytes takes it, up to a NUL.
std::string_view FirstLine(std::string_view file, size_t most) {
    std::string_view line = file.substr(0, most);
    if (const size_t end = line.find('\n'); end != std::string_view::npos)
        line = line.substr(0, end + 1);
    return line.substr(0, line.find('\0'));
}

// The title is the first line (as a 99-byte read takes it, up to a NUL),
// cut to 20 bytes, without its line end, centred in 20 blanks.
void CheckTitle(std::string_view file) {
    std::string_view line = FirstLine(file, 99).substr(0, kTitleSize);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::string want(kTitleSize, ' ');
    want.replace((kTitleSize - line.size()) / 2, line.size(), line);
    const auto title = VenueTitle();
    QM_FUZZ_CHECK(std::memcmp(title.data(), want.data(), kTitleSize) == 0);
}

// The message is consumed; a line of at least nine bytes with text at byte 8
// becomes one record in its terminal's file, nothing else does.
void CheckShortMessage(const SiteContext& site, std::string_view file) {
    QM_FUZZ_CHECK(!fs::exists(site.txtDir + "/DX.txt"));
    const std::string_view line = FirstLine(file, 259);
    const std::string_view text =
        line.size() < 9 ? std::string_view() : line.substr(8, line.find_first_of("\r\n", 8) - 8);

    size_t files = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(site.swapDir, ec)) {
        ++files;
        const std::string name = entry.path().filename().string();
        QM_FUZZ_CHECK(name.rfind("DX_", 0) == 0);
        const std::string record = fuzz::ReadWhole(entry.path());
        QM_FUZZ_CHECK(record.size() == 3 + std::min(text.size(), kShortMessageTextMax));
        QM_FUZZ_CHECK(static_cast<uint8_t>(record[0]) == LeadingNumber(line.substr(0, 3)));
        QM_FUZZ_CHECK(name == ShortMessagePath("", LeadingNumber(line.substr(4, 3))).substr(1));
        QM_FUZZ_CHECK(record.compare(record.size() - 2, 2, "\r\n") == 0);
        QM_FUZZ_CHECK(record.compare(1, record.size() - 3, text.substr(0, record.size() - 3)) == 0);
        fs::remove(entry.path());
    }
    QM_FUZZ_CHECK(files == (text.empty() ? 0u : 1u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchDir scratch;
    static const bool ready = [] {
        SetDebugLevel(0);
        // The short message goes to the Swap folder of the program folder.
        ::setenv("QM_HOME", scratch.path().c_str(), 1);
        fs::create_directories(scratch.path() / "TXT" / "Swap");
        return true;
    }();
    QM_FUZZ_CHECK(ready);
    if (size < 1)
        return 0;
    SiteContext site;
    const SiteFolders folders = CurrentSiteFolders();
    site.programDir = folders.program;
    site.txtDir = folders.txt;
    site.swapDir = folders.swap;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
    static const char* const kNames[] = {"基站.TXT", "点菜机.TXT", "BT.txt", "DX.txt"};
    const uint8_t which = data[0] % 4;
    const fs::path path = fs::path(site.txtDir) / kNames[which];
    QM_FUZZ_CHECK(fuzz::WriteWhole(path, data + 1, size - 1));

    switch (which) {
        case 0:
            QM_FUZZ_CHECK(LoadStations(site) == 1);
            CheckStations(site, file);
            break;
        case 1:
            site.stationCount = std::size(kHosts);
            for (uint32_t i = 0; i < site.stationCount; ++i) site.stations[i].hostId = kHosts[i];
            QM_FUZZ_CHECK(LoadTerminals(site) == 1);
            CheckTerminals(site, file);
            break;
        case 2:
            QM_FUZZ_CHECK(LoadVenueTitle(site) == 1);
            CheckTitle(file);
            break;
        default:
            LoadShortMessage(site);
            CheckShortMessage(site, file);
            break;
    }
    fs::remove(path);
    return 0;
}
