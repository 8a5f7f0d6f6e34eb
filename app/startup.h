// Start-up and shut-down of the site: folders, configuration, site files and
// the link service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/app_log.h"
#include "service/service.h"
#include "site/site_context.h"

namespace qm {

// 0 writes nothing, 4 adds the packet log; nothing lies beyond.
inline constexpr SettingRange kDebugLevelRange{"DebugLevel", 0, kLogPackets, kDefaultDebugLevel};

// Link parameters as read from QM.ini, kept aside until the end of start-up.
struct ConfigValues {
    uint32_t debugLevel = kDefaultDebugLevel;
    uint32_t retryTimes = kDefaultRetryTimes;
    uint32_t beaconInterval = kDefaultBeaconInterval;
    uint32_t beaconTimeout = kDefaultBeaconTimeout;
    // A log line for each value not taken as written ("QM.ini
    // BeaconInterVal=0 out of range 20..2000: 20 used"), to be written once
    // the debug level read here is in force.
    std::vector<std::string> notes;
};

// Reads the CONFIG section of the given QM.ini: defaults where missing, and
// each value judged by its range (JudgeSetting).
ConfigValues ReadConfig(const char* iniPath);

// Runs the start-up sequence once, from the main window's initialisation.
// mainWindow is the window that receives the link's notices (0: none, the
// link is then not started). Returns 1 when the link service was started.
int StartUp(SiteContext& site, uint32_t mainWindow);

// Releases what StartUp made and stops the link service.
void ShutDown(SiteContext& site);

}  // namespace qm
