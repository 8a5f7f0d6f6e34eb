#include "platform/process.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qm {

uint32_t ProcessId() {
    return static_cast<uint32_t>(getpid());
}

void IgnoreBrokenPipe() {
    signal(SIGPIPE, SIG_IGN);
}

StopSignals::StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0)
        close(fd_);
}

}  // namespace qm
