#include "app/start_report.h"

#include <cstdio>

#include "app/site_files.h"
#include "link/link_records.h"
#include "platform/app_log.h"
#include "service/qmsdk.h"

namespace qm {
namespace {

constexpr const char* kNobodyServed = " No base station is served.";
constexpr const char* kStationLineExample =
    "one line per base station, host id and port name, such as \"1 COM3\"";

std::string StationPath(const SiteContext& site) {
    return site.txtDir + "/" + kStationFile;
}

std::string TerminalPath(const SiteContext& site) {
    return site.txtDir + "/" + kTerminalFile;
}

StartProblem LongPortName(const SiteContext& site, const RefusedStation& refused) {
    const std::string limit = std::to_string(sizeof(_DEVINFO{}.portName));
    const std::string id = std::to_string(refused.hostId);
    // A name that is a path already is the device; otherwise it is most
    // likely a name below /dev.
    const std::string device = refused.portName.find('/') != std::string::npos
                                   ? refused.portName
                                   : "/dev/" + refused.portName;
    StartProblem p;
    p.hostId = refused.hostId;
    p.log = "Host id " + id + ": port name " + refused.portName + " longer than " + limit +
            " bytes, station not started";
    p.advice = "base station " + id + " in " + StationPath(site) + ": the port name \"" +
               refused.portName + "\" is longer than " + limit +
               " bytes, so the station is not started. Give it a short name such as COM3 in " +
               kStationFile + " and link " + site.programDir + "/ports/COM3 to the device (ln -s " +
               device + " " + site.programDir + "/ports/COM3).";
    return p;
}

// A station the link would take: a host id it serves and a terminal.
bool Runnable(const _DEVINFO& station) {
    return station.hostId <= kMaxHostId && station.dcbCount > 0;
}

}  // namespace

std::vector<StartProblem> SiteProblems(const SiteContext& site, const SiteFilesFound& found) {
    // Without TXT nothing else can be there: one message says it all.
    if (!found.txtFolder)
        return {{"TXT Folder Missing: " + site.txtDir, 255,
                 "the folder " + site.txtDir +
                     " is missing. The POS back-end keeps the site files there (" + kStationFile +
                     ", " + kTerminalFile +
                     "); create it, or start QM with QM_HOME set to the program folder that "
                     "holds TXT." +
                     kNobodyServed}};
    if (!found.stationFile)
        return {{"Station file missing: " + StationPath(site), 255,
                 "the station file " + StationPath(site) + " is missing. Write into it " +
                     kStationLineExample + "." + kNobodyServed}};

    std::vector<StartProblem> problems;
    for (const RefusedStation& refused : site.refusedStations)
        problems.push_back(LongPortName(site, refused));
    if (site.tooManyStations)
        problems.push_back({"More than 8 base stations listed: link not started", 255,
                            "the station file " + StationPath(site) +
                                " lists more than 8 base stations. QM serves at most 8, so none "
                                "is started; remove the extra lines." +
                                kNobodyServed});
    else if (site.stationCount == 0)
        problems.push_back({"Station file lists no base station: " + StationPath(site), 255,
                            "the station file " + StationPath(site) +
                                " lists no base station QM can start. Write " +
                                kStationLineExample +
                                " (a line that begins with a blank is skipped)." + kNobodyServed});
    return problems;
}

std::optional<StartProblem> NoStationStarted(const SiteContext& site, const SiteFilesFound& found) {
    if (site.stationCount == 0 || site.tooManyStations)
        return std::nullopt;
    if (!found.terminalFile)
        return StartProblem{"Terminal file missing: " + TerminalPath(site), 255,
                            "the terminal file " + TerminalPath(site) +
                                " is missing, so no base station has a terminal. Write one line "
                                "per terminal into it, DCB id and host id, such as \"12 1\"." +
                                kNobodyServed};
    bool runnable = false;
    for (uint32_t i = 0; i < site.stationCount; ++i)
        runnable = runnable || Runnable(site.stations[i]);
    if (!runnable)
        return StartProblem{
            "No base station started: none has a host id of 0 to 8 and a terminal", 255,
            "no base station is started: each needs a host id of 0 to 8 in " + StationPath(site) +
                " and at least one terminal in " + TerminalPath(site) +
                " (one line per terminal, DCB id and host id, such as \"12 1\")."};
    return StartProblem{"No base station started: no port could be opened", 255,
                        "no base station is started: none of the ports listed in " +
                            StationPath(site) +
                            " could be opened (each is named above; QMLog.txt has the device "
                            "tried and the reason)."};
}

std::string ProgramFolderNote(const ProgramDirChoice& choice, bool txtPresent) {
    std::string note = choice.dir + " (" + ProgramDirReasonText(choice.reason) + ")";
    if (!txtPresent)
        note += "; TXT is missing there";
    return note;
}

void ReportProgramFolder(const std::string& note) {
    LogError(("Program folder " + note).c_str(), 255, 255);
    std::fprintf(stderr, "QM: program folder %s\n", note.c_str());
    std::fflush(stderr);
}

void ReportStartProblem(const StartProblem& problem) {
    LogError(problem.log.c_str(), problem.hostId, 255);
    // Standard error may be a pipe the back-end has closed: the log has it.
    std::fprintf(stderr, "QM: %s\n", problem.advice.c_str());
    std::fflush(stderr);
}

}  // namespace qm
