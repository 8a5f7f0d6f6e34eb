#include "platform/process.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace qm {

uint32_t ProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string ProcessName(uint32_t pid) {
    if (pid == 0)
        return {};
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    char name[64] = {};
    const size_t n = std::fread(name, 1, sizeof name - 1, f);
    std::fclose(f);
    std::string text(name, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
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
