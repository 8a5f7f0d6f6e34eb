// The manager program `qm` started as a POS back-end starts it: with the
// back-end's window handle as its only argument, in its program folder,
// headless. Its end is watched through a pipe whose write end only the
// manager holds: when the manager exits, the pipe reads end-of-file.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

#include "app/qm_dlg.h"
#include "platform/window_message.h"
#include "tools/process/child_process.h"

namespace qm::bench {

class ManagerProcess {
  public:
    // Starts `program HANDLE` with $QM_HOME and $QM_RUNTIME_DIR as they are
    // now, QM_HEADLESS=1, the program folder as its current folder and its
    // output in <folder>/qm.out.
    ManagerProcess(const std::string& program, const std::string& folder, uint32_t backEnd) {
        ChildProcess::Options options;
        options.cwd = folder;
        options.setEnv = {"QM_HEADLESS=1"};
        options.outputFile = folder + "/qm.out";
        options.exitPipeFd = kExitPipeFd;
        started_ = child_.Start(program, {std::to_string(backEnd)}, options);
    }
    ~ManagerProcess() { Stop(0); }
    ManagerProcess(const ManagerProcess&) = delete;
    ManagerProcess& operator=(const ManagerProcess&) = delete;

    bool Started() const { return started_; }
    pid_t Pid() const { return child_.Pid(); }

    // Ends the manager: by the close message to its window when one is
    // given (0: none), then by SIGTERM, then SIGKILL, each with a bounded
    // wait. True when it ended by itself with status 0.
    bool Stop(qm::WindowHandle window) {
        if (!started_)
            return false;
        started_ = false;
        const bool clean = window != 0 && qm::PostMessage(window, qm::kWmClose, 0, 0) &&
                           child_.WaitPipeClosed(kCloseWaitMs);
        if (!clean) {
            child_.Signal(SIGTERM);
            if (!child_.WaitPipeClosed(kCloseWaitMs))
                child_.Signal(SIGKILL);
        }
        child_.Wait(kCloseWaitMs);
        return clean && child_.ExitCode() == 0;
    }

    // False when the manager ended within ms.
    bool StaysUp(int ms) { return !child_.WaitPipeClosed(ms); }

  private:
    static constexpr int kCloseWaitMs = 10000;
    // Far above the descriptors the manager opens itself.
    static constexpr int kExitPipeFd = 100;

    ChildProcess child_;
    bool started_ = false;
};

}  // namespace qm::bench
