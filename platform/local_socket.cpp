#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/runtime_dir.h"

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
    // The runtime folder may be searchable by others; connecting needs write
    // permission on the socket file, so the file is made the owner's alone.
    // Linux gives the file the mode of the socket's inode as it binds, so
    // the mode is set before the file exists and never stands open.
    const int on = 1;
    if (fchmod(fd, 0600) != 0 || setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        *err = errno;
        close(fd);
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
            // An odd umask may have taken the owner's own bits away.
            if ((st.st_mode & 07777) != 0600)
                chmod(path.c_str(), 0600);
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

ssize_t ReceiveDatagram(int fd, void* data, size_t size, uid_t* sender, pid_t* pid) {
    *sender = static_cast<uid_t>(-1);
    if (pid)
        *pid = 0;
    // MSG_TRUNC makes recvmsg return the datagram's real length, so a longer
    // one can be judged by its size rather than cut to fit.
    iovec iov{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(16 * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    if (n < 0)
        return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred cred;
            std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
            *sender = cred.uid;
            if (pid)
                *pid = cred.pid;
        } else if (c->cmsg_type == SCM_RIGHTS) {
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
                close(passed);
            }
        }
    }
    return n;
}

bool IsThisUser(uid_t uid) {
    return uid == getuid() || uid == geteuid();
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

int ConnectDatagramSocket(const std::string& path, int* fd) {
    *fd = -1;
    sockaddr_un addr{};
    if (!MakeAddress(path, &addr))
        return ENAMETOOLONG;
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return errno;
    int rc;
    do {
        rc = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int e = errno;
        close(s);
        return e;
    }
    *fd = s;
    return 0;
}

int SendConnected(int fd, const void* data, size_t size) {
    ssize_t n;
    do {
        n = send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return 0;
    return errno == EWOULDBLOCK ? EAGAIN : errno;
}

int SendDatagramWithin(const std::string& path, const void* data, size_t size, int waitMs) {
    int e = SendDatagram(path, data, size);
    if (e != EAGAIN || waitMs <= 0)
        return e;
    // Connected, the socket reports itself writable once the receiver's
    // queue has room again, so the wait is the kernel's, not a retry loop.
    int fd = -1;
    e = ConnectDatagramSocket(path, &fd);
    if (e != 0)
        return e;
    e = EAGAIN;
    const int64_t deadline = MonotonicMs() + waitMs;
    while (e == EAGAIN) {
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            e = errno;
            break;
        }
        if (ready <= 0)
            continue;
        e = SendConnected(fd, data, size);
    }
    close(fd);
    return e;
}

int SendToRuntimeSocket(const std::string& name, const void* data, size_t size, int waitMs) {
    int err = 0;
    const std::string dir = RuntimeDir(&err);
    if (dir.empty())
        return err;
    return SendDatagramWithin(dir + "/" + name, data, size, waitMs);
}

}  // namespace qm
