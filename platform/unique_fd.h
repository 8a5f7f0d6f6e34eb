// A file descriptor with one owner, closed when the owner goes.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qm {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    // Closing on the way out of a failed call leaves that call's errno.
    ~UniqueFd() {
        const int saved = errno;
        Reset();
        errno = saved;
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }
    // Closes now and tells whether the close succeeded: for a written file a
    // failed close can mean lost data.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd >= 0 && ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace qm
