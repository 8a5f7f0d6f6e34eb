// The folders below the program folder that the manager, its service and the
// POS back-end share.
#pragma once

#include <string>

namespace qm {

struct SiteFolders {
    std::string program;  // without a trailing slash
    std::string txt;      // site files, request files T<host>.txt, replies R<host>.txt
    std::string swap;     // spill files and the terminals' short messages
};

// The folders of the given program folder.
SiteFolders SiteFoldersOf(const std::string& programDir);

// The folders of the program folder of the moment (ProgramDir()).
SiteFolders CurrentSiteFolders();

}  // namespace qm
