#include "tools/devsim/pty_port.h"

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace qm::devsim {

namespace {

std::string Reason(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// Takes errno before anything else: building the message may allocate and
// change it.
std::string Reason(const char* what) {
    const int err = errno;
    return Reason(std::string(what), err);
}

bool SetCloseOnExec(int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

bool SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool MakeRaw(int fd, bool lineSettings) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    if (lineSettings) {
        // 19200 baud, 8 data bits, no parity, 1 stop bit, no flow control:
        // what a base station speaks.
        ::cfsetispeed(&tio, B19200);
        ::cfsetospeed(&tio, B19200);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Points linkPath at target. A symbolic link already there (a left-over of
// an earlier run) is replaced in one rename; a file or folder of that name is
// left alone and the call fails.
bool PlaceLink(const std::string& target, const std::string& linkPath, std::string& error) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = linkPath + " exists and is not a symbolic link; not replaced";
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        linkPath + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        const int err = errno;
        error = Reason("symlink " + temp, err);
        return false;
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        const int err = errno;
        error = Reason("rename to " + linkPath, err);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

PtyPort::~PtyPort() {
    if (linkPath_.empty()) {
        return;
    }
    // Remove the link only while it is still ours: another simulator may have
    // taken the name over since.
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(linkPath_.c_str(), target.data(), target.size() - 1);
    if (n > 0 && std::string(target.data(), static_cast<size_t>(n)) == slavePath_) {
        ::unlink(linkPath_.c_str());
    }
}

bool PtyPort::Open(const std::string& linkPath, std::string& error) {
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = Reason("openpty");
        return false;
    }
    master_.Reset(master);
    slave_.Reset(slave);
    std::array<char, 256> name{};
    if (const int err = ::ptsname_r(master, name.data(), name.size()); err != 0) {
        error = Reason("ptsname_r", err);
        return false;
    }
    slavePath_ = name.data();
    if (!SetCloseOnExec(master) || !SetCloseOnExec(slave) || !SetNonBlocking(master)) {
        error = Reason("fcntl");
        return false;
    }
    if (!MakeRaw(master, false) || !MakeRaw(slave, true)) {
        error = Reason("tcsetattr");
        return false;
    }
    if (!PlaceLink(slavePath_, linkPath, error)) {
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PtyPort::ClearExclusive() const {
    if (slave_.Valid()) {
        ::ioctl(slave_.Get(), TIOCNXCL);
    }
}

}  // namespace qm::devsim
