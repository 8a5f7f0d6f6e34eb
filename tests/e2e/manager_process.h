// The real manager program as a child process of a test: started in a
// program folder with its own runtime folder, headless, and always ended
// when the test ends.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <string>
#include <vector>

extern char** environ;

namespace qm::test {

class ManagerProcess {
public:
    // Starts `program args...` with the current folder `cwd`.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd) {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return false;
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        return pidfd_ >= 0;
    }

    ~ManagerProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait(5000);
        }
        if (pidfd_ >= 0) close(pidfd_);
    }

    // Waits for the process to end; true with its exit status when it did.
    bool Wait(int timeoutMs) {
        if (exited_) return true;
        pollfd p{pidfd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return false;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return false;
        exited_ = true;
        status_ = status;
        return true;
    }

    void Signal(int sig) {
        if (!exited_) kill(pid_, sig);
    }

    pid_t Pid() const { return pid_; }
    bool Exited() const { return exited_; }
    int ExitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

}  // namespace qm::test
