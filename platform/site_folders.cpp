#include "platform/site_folders.h"

#include "platform/files.h"

namespace qm {

SiteFolders SiteFoldersOf(const std::string& programDir) {
    SiteFolders folders;
    folders.program = programDir;
    folders.txt = programDir + "/TXT";
    folders.swap = folders.txt + "/Swap";
    return folders;
}

SiteFolders CurrentSiteFolders() {
    return SiteFoldersOf(ProgramDir());
}

}  // namespace qm
