// The manager as the back-end's child process: started with the back-end's
// window handle on its command line, as a real back-end starts it.
#pragma once

#include <memory>
#include <string>

#include "platform/window_message.h"
#include "tools/process/child_process.h"

namespace qm::backsim {

class ManagerProcess {
  public:
    // Starts `program <backEndWindow>` with this process's environment and
    // QM_HOME=home. A program name without '/' is looked up in $PATH. The
    // manager gets /dev/null as standard input (the simulator's own input
    // carries commands), a process group of its own (a Ctrl-C at the
    // terminal reaches the simulator, which closes the manager properly), an
    // empty signal mask, and SIGTERM should the simulator die, so that it
    // never outlives us. Null with *error set when it cannot be started.
    //
    // Call it with SIGCHLD blocked and taken by a signalfd: where the kernel
    // has no pidfd, SIGCHLD is how the end of the manager is learned.
    static std::unique_ptr<ManagerProcess> Start(const std::string& program,
                                                 WindowHandle backEndWindow,
                                                 const std::string& home, std::string* error);

    // A manager still running is killed (SIGKILL) and reaped: the simulator
    // never leaves a process behind.
    ManagerProcess() = default;
    ManagerProcess(const ManagerProcess&) = delete;
    ManagerProcess& operator=(const ManagerProcess&) = delete;

    pid_t Pid() const { return child_.Pid(); }
    // Polls readable once the manager has ended; -1 where the kernel has no
    // pidfd (SIGCHLD tells then).
    int ExitFd() const { return child_.ExitFd(); }

    // Reaps the manager if it has ended; true once it has.
    bool Reap() { return child_.Reap(); }
    bool Ended() const { return child_.Exited(); }
    // The exit code, or 128 + the signal that ended it, as a shell reports.
    int Status() const { return child_.ExitCode(); }
    // Sends a signal to a manager not yet reaped (never to a reused pid).
    bool Signal(int sig) const { return child_.Signal(sig); }

  private:
    ChildProcess child_;
};

// The program to execute for `name`: the name itself when it holds a '/',
// else the first executable file of that name in the folders of $PATH;
// empty when there is none.
std::string ResolveProgram(const std::string& name);

}  // namespace qm::backsim
