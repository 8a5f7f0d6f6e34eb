// A file descriptor with one owner, closed when the owner goes.
#pragma once

#include <unistd.h>

namespace qm::backsim {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes now and tells whether the close succeeded: for a written file a
    // failed close can mean lost data.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) == 0;
    }

  private:
    int fd_;
};

}  // namespace qm::backsim
