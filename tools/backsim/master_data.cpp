#include "tools/backsim/master_data.h"

#include "platform/files.h"
#include "tools/backsim/file_io.h"

namespace qm::backsim {

RefreshResult RefreshMasterData(const std::string& txtDir) {
    RefreshResult result;
    for (const char* name : kMasterDataFiles) {
        const std::string found = FindFileIgnoringCase(txtDir, name);
        if (found.empty()) {
            if (WriteWholeFile(txtDir + "/" + name, "")) {
                ++result.created;
            } else {
                ++result.failed;
            }
            continue;
        }
        const std::string path = txtDir + "/" + found;
        const auto content = ReadWholeFile(path, kMaxMasterDataBytes);
        if (content && WriteWholeFile(path, *content)) {
            ++result.rewritten;
        } else {
            ++result.failed;
        }
    }
    return result;
}

}  // namespace qm::backsim
