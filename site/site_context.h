// The application's site: folders, the station table loaded from the site
// files, the reply buffer and the download go-ahead event. One instance lives
// in the main window, exactly as long as it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "service/qmsdk.h"

namespace qm {

inline constexpr size_t kReplyBufferSize = 5000;

// A station line whose port name does not fit the record's 6 bytes. Cut
// short, the name could lead to another device, so the station is left out.
struct RefusedStation {
    uint8_t hostId = 0;
    std::string portName;  // as written
};

struct SiteContext {
    std::string programDir;     // without a trailing slash
    std::string swapDir;        // spill files and the terminals' short messages
    std::string txtDir;         // the back-end's site, request and reply files
    uint32_t stationCount = 0;  // records used in stations
    // More station lines than the table holds were found: the extra lines
    // are not stored and the link is not started.
    bool tooManyStations = false;
    std::vector<RefusedStation> refusedStations;  // in file order
    std::unique_ptr<uint8_t[]> replyBuffer;       // kReplyBufferSize bytes
    std::array<_DEVINFO, QM_MAX_STATIONS> stations{};
    std::unique_ptr<Event> dataReadyEvent;  // auto-reset; set by notice 11
    // Set while the download panel runs a download and while the link test
    // panel runs a test: each refuses to start while the other's is set.
    // Both live on the window's thread only.
    uint32_t downloadRunning = 0;
    uint32_t testRunning = 0;
};

}  // namespace qm
