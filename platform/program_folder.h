// Which folder is the program folder, and why. The manager and a back-end
// that links the service library find QM.ini, TXT and ports/ there.
#pragma once

#include <string>

namespace qm {

// The folder of an installed manager without QM_HOME: an installed program
// folder (/usr/bin) is no place for a site's files.
inline constexpr const char kInstalledProgramDir[] = "/var/lib/qm";

enum class ProgramDirReason {
    kQmHome,            // $QM_HOME, set and not empty
    kOwnTxt,            // the executable's folder, which holds its own TXT
    kInstalled,         // an installed executable (in a bin folder): /var/lib/qm
    kExecutableFolder,  // the executable's folder: a build folder, or any other
};

struct ProgramDirChoice {
    std::string dir;  // without a trailing slash; "/" stays "/"
    ProgramDirReason reason = ProgramDirReason::kExecutableFolder;
};

// The choice, in this order: qmHome when not null and not empty; the
// executable's folder when it holds TXT; kInstalledProgramDir when the
// executable lies in an installed bin folder; else the executable's folder.
ProgramDirChoice ChooseProgramDir(const char* qmHome, const std::string& exeDir, bool exeDirHasTxt,
                                  bool installedBin);

// Whether dir is the bin folder of an installation (/usr/bin,
// /usr/local/bin, /opt/qm/bin): its last name is "bin".
bool IsInstalledBinFolder(const std::string& dir);

// The choice for the running program, from $QM_HOME and /proc/self/exe. An
// empty dir when neither gives one.
ProgramDirChoice CurrentProgramDir();

// "QM_HOME", "the executable's folder, which holds TXT", ...: why, in
// words for the start-up line.
const char* ProgramDirReasonText(ProgramDirReason reason);

}  // namespace qm
