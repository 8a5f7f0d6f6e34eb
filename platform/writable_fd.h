// Waiting for a descriptor to accept writes.
//
// WaitAny watches its objects for readability only. A serial port whose
// output queue is full has to be waited on for writability instead, together
// with the link's stop event. An epoll instance bridges the two: it holds the
// port with EPOLLOUT, and the epoll descriptor itself polls readable exactly
// while the port is writable (or has hung up or failed, which epoll always
// reports, so a writer never waits for a device that is gone).
#pragma once

#include "platform/event.h"

namespace qm {

class WritableFd final : public Waitable {
  public:
    // Watches fd, which must stay open for the life of this object.
    explicit WritableFd(int fd);
    ~WritableFd() override;
    WritableFd(const WritableFd&) = delete;
    WritableFd& operator=(const WritableFd&) = delete;

    // False when the epoll instance could not be made; errno tells why.
    bool Valid() const { return epollFd_ >= 0; }
    int WaitFd() const override { return epollFd_; }
    // Nothing is consumed: every waiter sees the port writable.
    bool Acquire() const override { return true; }

  private:
    int epollFd_ = -1;
};

}  // namespace qm
