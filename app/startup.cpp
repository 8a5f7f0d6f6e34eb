#include "app/startup.h"

#include <optional>
#include <string>

#include "app/site_files.h"
#include "app/start_report.h"
#include "platform/app_log.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/program_folder.h"
#include "platform/site_folders.h"
#include "service/service.h"

namespace qm {

ConfigValues ReadConfig(const char* iniPath) {
    ConfigValues c;
    const auto read = [&](const SettingRange& range) {
        const std::optional<std::string> text = ReadProfileText(iniPath, "CONFIG", range.key);
        if (!text)
            return range.defaultValue;
        SettingVerdict v = JudgeSetting("QM.ini", range, *text);
        if (!v.note.empty())
            c.notes.push_back(std::move(v.note));
        return v.used;
    };
    c.debugLevel = read(kDebugLevelRange);
    c.retryTimes = read(kRetryTimesRange);
    c.beaconInterval = read(kBeaconIntervalRange);
    c.beaconTimeout = read(kBeaconTimeoutRange);
    return c;
}

namespace {

// Files left in the swap folder by an earlier run (spill files, short
// messages of terminals) are stale: the link's counts start at zero.
// Sub-folders and what they hold are left alone.
void EmptySwapFolder(const std::string& swapDir) {
    for (const DirEntry& e : ListFolder(swapDir)) {
        if (e.isFolder)
            continue;
        DeleteFile(swapDir + "/" + e.name);
    }
}

}  // namespace

int StartUp(SiteContext& site, uint32_t mainWindow) {
    const ProgramDirChoice programDir = CurrentProgramDir();
    const SiteFolders folders = SiteFoldersOf(programDir.dir);
    site.programDir = folders.program;
    site.txtDir = folders.txt;
    site.swapDir = folders.swap;
    const std::string iniPath = site.programDir + "/QM.ini";

    // Each run starts a fresh packet trace.
    DeleteFile("QMPktLog.txt");
    CreateFolder(site.swapDir);
    EmptySwapFolder(site.swapDir);

    site.replyBuffer = std::make_unique<uint8_t[]>(kReplyBufferSize);
    site.dataReadyEvent = std::make_unique<Event>(Event::Mode::kAutoReset, false);
    site.downloadRunning = 0;
    site.testRunning = 0;

    SiteFilesFound found;
    found.stationFile = LoadStations(site) != 0;
    found.terminalFile = LoadTerminals(site) != 0;
    // The back-end owns TXT and the manager never makes it.
    found.txtFolder = IsFolder(site.txtDir);

    const ConfigValues config = ReadConfig(iniPath.c_str());
    SetDebugLevel(config.debugLevel);
    ReportProgramFolder(ProgramFolderNote(programDir, found.txtFolder));
    for (const std::string& note : config.notes) LogError(note.c_str(), 255, 255);
    // A start that serves fewer stations than listed, or none, says why:
    // otherwise every request of the terminals is lost without a word.
    for (const StartProblem& p : SiteProblems(site, found)) ReportStartProblem(p);

    int started = 0;
    if (mainWindow != 0 && !site.tooManyStations && site.stationCount >= 1 &&
        site.stationCount <= QM_MAX_STATIONS) {
        // Without any port the manager still runs: the back-end's notices and
        // the operator's window work, only the terminals are unreachable.
        started = service::Init(mainWindow, {site.stations.data(), site.stationCount}) ? 1 : 0;
        const std::optional<StartProblem> p =
            started ? std::nullopt : NoStationStarted(site, found);
        if (p)
            ReportStartProblem(*p);
    }

    LoadVenueTitle(site);
    service::SetParams(config.retryTimes, config.beaconTimeout, config.beaconInterval);
    return started;
}

void ShutDown(SiteContext& site) {
    site.replyBuffer.reset();
    site.dataReadyEvent.reset();
    service::DeInit();
}

}  // namespace qm
