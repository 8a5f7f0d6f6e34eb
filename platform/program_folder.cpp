#include "platform/program_folder.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"

namespace qm {
namespace {

std::string WithoutTrailingSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string ExecutablePath() {
    std::string path(256, '\0');
    // The link's length is not known in advance; grow until it fits, within
    // the longest path the system allows.
    while (path.size() <= 65536) {
        ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
    return {};
}

}  // namespace

ProgramDirChoice ChooseProgramDir(const char* qmHome, const std::string& exeDir, bool exeDirHasTxt,
                                  bool installedBin) {
    if (qmHome && *qmHome)
        return {WithoutTrailingSlash(qmHome), ProgramDirReason::kQmHome};
    // A folder that holds its own TXT is a site, installed or not.
    if (exeDirHasTxt)
        return {exeDir, ProgramDirReason::kOwnTxt};
    if (installedBin)
        return {kInstalledProgramDir, ProgramDirReason::kInstalled};
    return {exeDir, ProgramDirReason::kExecutableFolder};
}

bool IsInstalledBinFolder(const std::string& dir) {
    const std::string d = WithoutTrailingSlash(dir);
    const size_t slash = d.rfind('/');
    return slash != std::string::npos && d.compare(slash + 1, std::string::npos, "bin") == 0;
}

ProgramDirChoice CurrentProgramDir() {
    const char* home = std::getenv("QM_HOME");
    std::string exeDir;
    if (!(home && *home)) {
        const std::string exe = ExecutablePath();
        const size_t slash = exe.rfind('/');
        if (slash != std::string::npos)
            exeDir = slash == 0 ? "/" : exe.substr(0, slash);
    }
    if (exeDir.empty() && !(home && *home))
        return {};
    const std::string txt = exeDir == "/" ? "/TXT" : exeDir + "/TXT";
    return ChooseProgramDir(home, exeDir, !exeDir.empty() && IsFolder(txt),
                            IsInstalledBinFolder(exeDir));
}

const char* ProgramDirReasonText(ProgramDirReason reason) {
    switch (reason) {
        case ProgramDirReason::kQmHome:
            return "QM_HOME";
        case ProgramDirReason::kOwnTxt:
            return "the executable's folder, which holds TXT";
        case ProgramDirReason::kInstalled:
            return "an installed qm without QM_HOME";
        case ProgramDirReason::kExecutableFolder:
            return "the executable's folder";
    }
    return "";
}

}  // namespace qm
