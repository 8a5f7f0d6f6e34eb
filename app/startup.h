// Start-up and shut-down of the site: folders, configuration, site files and
// the link service.
#pragma once

#include <cstdint>

#include "app/site_context.h"
#include "platform/app_log.h"
#include "service/service.h"

namespace qm {

// Link parameters as read from QM.ini, kept aside until the end of start-up.
struct ConfigValues {
    uint32_t debugLevel = kDefaultDebugLevel;
    uint32_t retryTimes = kDefaultRetryTimes;
    uint32_t beaconInterval = kDefaultBeaconInterval;
    uint32_t beaconTimeout = kDefaultBeaconTimeout;
};

// Reads the CONFIG section of the given QM.ini; defaults where missing.
ConfigValues ReadConfig(const char* iniPath);

// Runs the start-up sequence once, from the main window's initialisation.
// mainWindow is the window that receives the link's notices (0: none, the
// link is then not started). Returns 1 when the link service was started.
int StartUp(SiteContext& site, uint32_t mainWindow);

// Releases what StartUp made and stops the link service.
void ShutDown(SiteContext& site);

}  // namespace qm
