// The manager program `qm` started as a POS back-end starts it: with the
// back-end's window handle as its only argument, in its program folder,
// headless. Its end is watched through a pipe whose write end only the
// manager holds: when the manager exits, the pipe reads end-of-file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/qm_dlg.h"
#include "bench/bench_support.h"
#include "platform/window_message.h"

extern char** environ;

namespace qm::bench {

class ManagerProcess {
  public:
    // Starts `program HANDLE` with $QM_HOME and $QM_RUNTIME_DIR as they are
    // now, QM_HEADLESS=1, the program folder as its current folder and its
    // output in <folder>/qm.out.
    ManagerProcess(const std::string& program, const std::string& folder, uint32_t backEnd) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "QM_HEADLESS=", 12) != 0)
                env.emplace_back(*e);
        env.emplace_back("QM_HEADLESS=1");
        const std::string handle = std::to_string(backEnd);
        std::vector<char*> argv{const_cast<char*>(program.c_str()),
                                const_cast<char*>(handle.c_str()), nullptr};
        std::vector<char*> envp;
        for (std::string& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);

        int out =
            open((folder + "/qm.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int ends[2];
        if (out < 0 || pipe2(ends, O_CLOEXEC) != 0) {
            if (out >= 0)
                close(out);
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        // Between fork and exec only async-signal-safe calls: this process
        // has threads.
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder.c_str()) != 0)
                _exit(127);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            // The write end stays open across exec (dup2 clears close-on-exec).
            if (dup2(ends[1], 100) < 0)
                _exit(127);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(out);
        close(ends[1]);
        exitFd_ = ends[0];
        if (pid_ < 0) {
            close(exitFd_);
            exitFd_ = -1;
        }
    }
    ~ManagerProcess() { Stop(0); }
    ManagerProcess(const ManagerProcess&) = delete;
    ManagerProcess& operator=(const ManagerProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Ends the manager: by the close message to its window when one is
    // given (0: none), then by SIGTERM, then SIGKILL, each with a bounded
    // wait. True when it ended by itself with status 0.
    bool Stop(qm::WindowHandle window) {
        if (pid_ <= 0)
            return false;
        bool clean =
            window != 0 && qm::PostMessage(window, qm::kWmClose, 0, 0) && WaitExit(kCloseWaitMs);
        if (!clean) {
            kill(pid_, SIGTERM);
            if (!WaitExit(kCloseWaitMs))
                kill(pid_, SIGKILL);
        }
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        close(exitFd_);
        exitFd_ = -1;
        return clean && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // False when the manager ended within ms.
    bool StaysUp(int ms) { return !WaitExit(ms); }

  private:
    static constexpr int kCloseWaitMs = 10000;

    bool WaitExit(int ms) {
        const int64_t end = NowUs() + static_cast<int64_t>(ms) * 1000;
        for (;;) {
            const int64_t left = (end - NowUs()) / 1000;
            if (left < 0)
                return false;
            pollfd pfd{exitFd_, POLLIN, 0};
            const int r = poll(&pfd, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0)
                return false;
            char c;
            if (read(exitFd_, &c, 1) <= 0)
                return true;
        }
    }

    pid_t pid_ = -1;
    int exitFd_ = -1;
};

}  // namespace qm::bench
