#include "platform/back_end_file.h"

#include "platform/files.h"

namespace qm {

FileHandle OpenBackEndFile(const std::string& dir, const std::string& name) {
    const std::string found = FindFileIgnoringCase(dir, name);
    if (found.empty())
        return nullptr;
    return FileHandle(std::fopen((dir + "/" + found).c_str(), "rbe"));
}

}  // namespace qm
