#include "platform/writable_fd.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

namespace qm {

WritableFd::WritableFd(int fd) {
    int ep = epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0)
        return;
    epoll_event ev{};
    ev.events = EPOLLOUT;  // level-triggered: readable for as long as there is room
    ev.data.fd = fd;
    if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) != 0) {
        int saved = errno;
        close(ep);
        errno = saved;
        return;
    }
    epollFd_ = ep;
}

WritableFd::~WritableFd() {
    if (epollFd_ >= 0)
        close(epollFd_);
}

}  // namespace qm
