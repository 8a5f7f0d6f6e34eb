#include "tools/backsim/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "tools/backsim/unique_fd.h"

namespace qm::backsim {
namespace {

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

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
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    // A dot name that no reader of the manager's folder looks for.
    std::string temp = dir + ".backsim-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        return false;
    }
    // mkostemp makes the file private; the manager is the same user, but an
    // integrator's tools may not be.
    const bool ok = ::fchmod(fd.Get(), 0644) == 0 && WriteAll(fd.Get(), bytes) && fd.Close() &&
                    ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int err = errno;
        ::unlink(temp.c_str());
        errno = err;
    }
    return ok;
}

std::string PathIgnoringCase(const std::string& dir, const std::string& name) {
    const std::string found = FindFileIgnoringCase(dir, name);
    return dir + "/" + (found.empty() ? name : found);
}

}  // namespace qm::backsim
