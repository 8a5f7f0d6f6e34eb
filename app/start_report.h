// What a start tells the person setting up a site when it leaves base
// stations out, or serves none at all: one line in QMLog.txt for whoever
// reads the log later, and on standard error what is missing, where, and
// what to do about it, for whoever is at the console now.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/program_folder.h"
#include "site/site_context.h"

namespace qm {

struct StartProblem {
    std::string log;       // the QMLog.txt line
    uint8_t hostId = 255;  // its HostID field
    std::string advice;    // the standard error text, without "QM: "
};

// How the site files were found at start.
struct SiteFilesFound {
    bool txtFolder = false;
    bool stationFile = false;
    bool terminalFile = false;
};

// The problems of the site as loaded, before the link starts: no TXT folder,
// no station file or none listed in it, too many stations, and every station
// line refused for its port name.
std::vector<StartProblem> SiteProblems(const SiteContext& site, const SiteFilesFound& found);

// Why a link given the site's stations started none of them. nullopt when
// the site lists no station at all, which SiteProblems has said already.
std::optional<StartProblem> NoStationStarted(const SiteContext& site, const SiteFilesFound& found);

// Which program folder a start uses, why, and when TXT is missing there:
// "/var/lib/qm (an installed qm without QM_HOME); TXT is missing there".
std::string ProgramFolderNote(const ProgramDirChoice& choice, bool txtPresent);

// Logs "Program folder <note>" (threshold 1) and writes "QM: program
// folder <note>" to standard error, so that
// whoever starts the manager by hand sees where it looks for the site.
void ReportProgramFolder(const std::string& note);

// Logs the problem (threshold 1) and writes its advice to standard error.
void ReportStartProblem(const StartProblem& problem);

}  // namespace qm
