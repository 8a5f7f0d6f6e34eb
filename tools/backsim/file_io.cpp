#include "tools/backsim/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/unique_fd.h"

namespace qm::backsim {

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    return ReplaceFile(path, bytes.data(), bytes.size());
}

std::string PathIgnoringCase(const std::string& dir, const std::string& name) {
    const std::string found = FindFileIgnoringCase(dir, name);
    return dir + "/" + (found.empty() ? name : found);
}

}  // namespace qm::backsim
