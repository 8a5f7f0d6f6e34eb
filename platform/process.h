// The manager's own process: its id and the signals that concern it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event.h"

namespace qm {

// The id of this process (the manager's main window takes it as its handle).
uint32_t ProcessId();

// The command name of a running process (its /proc/<pid>/comm: at most 15
// bytes of its program's name); empty when it cannot be read, for a process
// that has ended or belongs to someone else's namespace.
std::string ProcessName(uint32_t pid);

// A write to a pipe or socket whose reader is gone fails with EPIPE instead
// of ending the process.
void IgnoreBrokenPipe();

// Ctrl-C, a terminal closing or the service manager stopping the process
// (SIGINT, SIGHUP, SIGTERM), taken as a descriptor that a main loop waits on
// together with its queue, so no handler runs in the middle of anything.
// Make it before any thread starts: the signals are blocked in the calling
// thread, and every thread started later inherits that. Once one came, the
// waitable stays signalled.
class StopSignals final : public Waitable {
  public:
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int WaitFd() const override { return fd_; }
    bool Acquire() const override { return true; }
    // False when no descriptor could be made: the signals then cannot be
    // waited for.
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace qm
