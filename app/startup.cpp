#include "app/startup.h"

#include <unistd.h>

#include <string>

#include "platform/app_log.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "app/site_files.h"

namespace qm {

ConfigValues ReadConfig(const char* iniPath) {
    ConfigValues c;
    c.debugLevel = ReadProfileInt(iniPath, "CONFIG", "DebugLevel", 1);
    c.retryTimes = ReadProfileInt(iniPath, "CONFIG", "RetryTimes", 5);
    c.beaconInterval = ReadProfileInt(iniPath, "CONFIG", "BeaconInterVal", 100);
    c.beaconTimeout = ReadProfileInt(iniPath, "CONFIG", "BeaconTimeout", 3000);
    return c;
}

namespace {

// Files left in the swap folder by an earlier run (spill files, short
// messages of terminals) are stale: the link's counts start at zero.
// Sub-folders and what they hold are left alone.
void EmptySwapFolder(const std::string& swapDir) {
    for (const DirEntry& e : ListFolder(swapDir)) {
        if (e.isFolder) continue;
        DeleteFile(swapDir + "/" + e.name);
    }
}

}  // namespace

int StartUp(SiteContext& site, uint32_t mainWindow) {
    site.programDir = ProgramDir();
    site.txtDir = site.programDir + "/TXT";
    site.swapDir = site.txtDir + "/Swap";
    const std::string iniPath = site.programDir + "/QM.ini";

    // Each run starts a fresh packet trace.
    unlink("QMPktLog.txt");
    CreateFolder(site.swapDir);
    EmptySwapFolder(site.swapDir);

    site.replyBuffer = std::make_unique<uint8_t[]>(kReplyBufferSize);
    site.dataReadyEvent = std::make_unique<Event>(Event::Mode::kAutoReset, false);

    LoadStations(site);
    LoadTerminals(site);

    const ConfigValues config = ReadConfig(iniPath.c_str());
    SetDebugLevel(config.debugLevel);

    int started = 0;
    if (mainWindow != 0 && !site.tooManyStations && site.stationCount >= 1 &&
        site.stationCount <= QM_MAX_STATIONS) {
        // Without any port the manager still runs: the back-end's notices and
        // the operator's window work, only the terminals are unreachable.
        started = SDKInit(reinterpret_cast<void*>(static_cast<uintptr_t>(mainWindow)),
                          site.stations.data(), site.stationCount);
    }

    site.downloadRunning = 0;
    site.testRunning = 0;
    LoadVenueTitle(site);
    SDKSetParam(config.retryTimes, config.beaconTimeout, config.beaconInterval);
    return started;
}

void ShutDown(SiteContext& site) {
    site.replyBuffer.reset();
    site.dataReadyEvent.reset();
    SDKDeInit();
}

}  // namespace qm
