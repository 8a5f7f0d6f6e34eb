#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
    if (!FitsSocketPath(path))
        return false;
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Holds an exclusive flock on the runtime folder for one short step. A
// process that dies while holding it releases it with its descriptors.
class FolderLock {
  public:
    explicit FolderLock(const std::string& dir)
        : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0)
            return;
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            close(fd_);  // closing drops the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }
    int Error() const { return fd_ >= 0 ? 0 : errno; }

  private:
    int fd_;
};

enum class Probe { kLive, kStale, kGone, kError };

// Tells a live socket from a stale file by knocking: connect() to a closed
// socket's file, or to a file that is no socket, is refused.
Probe ProbePath(const sockaddr_un& addr, int* err) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = errno;
        return Probe::kError;
    }
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    int e = errno;
    close(fd);
    if (rc == 0)
        return Probe::kLive;
    if (e == ECONNREFUSED)
        return Probe::kStale;
    if (e == ENOENT)
        return Probe::kGone;
    // A live socket of another type (a stream listener) answers EPROTOTYPE:
    // it is alive, so it is not ours to remove.
    if (e == EPROTOTYPE)
        return Probe::kLive;
    *err = e;
    return Probe::kError;
}

}  // namespace

bool FitsSocketPath(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un::sun_path) &&
           path.find('\0') == std::string::npos;
}

BindResult BindDatagramSocket(const std::string& dir, const std::string& path, BoundSocket* out,
                              int* err) {
    sockaddr_un addr{};
    if (!MakeAddress(path, &addr)) {
        *err = ENAMETOOLONG;
        return BindResult::kFailed;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = errno;
        return BindResult::kFailed;
    }

    FolderLock lock(dir);
    if (!lock.Held()) {
        *err = lock.Error();
        close(fd);
        return BindResult::kFailed;
    }
    // Two rounds are enough under the lock: a stale file is removed once;
    // only a party that ignores the lock could put another one back.
    for (int round = 0; round < 3; ++round) {
        if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            struct stat st {};
            if (stat(path.c_str(), &st) != 0) {
                *err = errno;
                close(fd);
                return BindResult::kFailed;
            }
            out->fd = fd;
            out->device = st.st_dev;
            out->inode = st.st_ino;
            return BindResult::kBound;
        }
        if (errno != EADDRINUSE) {
            *err = errno;
            close(fd);
            return BindResult::kFailed;
        }
        switch (ProbePath(addr, err)) {
            case Probe::kLive:
                close(fd);
                return BindResult::kHeld;
            case Probe::kStale:
                if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                    *err = errno;
                    close(fd);
                    return BindResult::kFailed;
                }
                break;
            case Probe::kGone:
                break;
            case Probe::kError:
                close(fd);
                return BindResult::kFailed;
        }
    }
    *err = EADDRINUSE;
    close(fd);
    return BindResult::kFailed;
}

void ReleaseDatagramSocket(const std::string& dir, const std::string& path, BoundSocket* socket) {
    if (socket->fd < 0)
        return;
    {
        // The path goes before the socket closes: while our socket is open
        // nobody following the rules takes the path over, so what stat finds
        // there with our inode is ours until the unlink.
        FolderLock lock(dir);
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && st.st_dev == socket->device &&
            st.st_ino == socket->inode) {
            unlink(path.c_str());
        }
    }
    close(socket->fd);
    socket->fd = -1;
}

int SendDatagram(const std::string& path, const void* data, size_t size) {
    sockaddr_un addr{};
    if (!MakeAddress(path, &addr))
        return ENAMETOOLONG;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    ssize_t n;
    do {
        n = sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (n < 0 && errno == EINTR);
    int e = n < 0 ? errno : 0;
    close(fd);
    if (e == EWOULDBLOCK)
        e = EAGAIN;
    return e;
}

}  // namespace qm
