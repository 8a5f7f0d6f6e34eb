#include "tools/backsim/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/unique_fd.h"

namespace qm::backsim {

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) {
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    return ReplaceFile(path, bytes.data(), bytes.size());
}

std::string PathIgnoringCase(const std::string& dir, const std::string& name) {
    const std::string found = FindFileIgnoringCase(dir, name);
    return dir + "/" + (found.empty() ? name : found);
}

}  // namespace qm::backsim
