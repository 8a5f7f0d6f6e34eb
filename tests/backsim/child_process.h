// A program under test as a child process: its standard input is a pipe the
// test writes commands to, its standard output a pipe the test reads lines
// from. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace qm::backsim::test {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() {
        CloseInput();
        if (out_ >= 0) {
            ::close(out_);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with args in the folder cwd, with this process's
    // environment.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) {
            return false;
        }
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
        if (rc != 0) {
            pid_ = -1;
        }
        return rc == 0;
    }

    pid_t Pid() const { return pid_; }

    bool Write(const std::string& text) const {
        return in_ >= 0 &&
               ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void CloseInput() {
        if (in_ >= 0) {
            ::close(in_);
            in_ = -1;
        }
    }

    // Reads lines until one read so far equals `line` (or, with prefix,
    // starts with it); every line read is kept in Lines(). False at time-out
    // or end of output.
    bool SeeLine(const std::string& line, int timeoutMs, bool prefix = false) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (size_t checked = 0;;) {
            for (; checked < lines_.size(); ++checked) {
                const std::string& seen = lines_[checked];
                if (prefix ? seen.rfind(line, 0) == 0 : seen == line) {
                    return true;
                }
            }
            if (!Fill(deadline)) {
                return false;
            }
        }
    }

    // Whether a line starting with `text` has been read so far.
    bool Saw(const std::string& text) const {
        for (const std::string& seen : lines_) {
            if (seen.rfind(text, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    const std::vector<std::string>& Lines() const { return lines_; }

    // Reads the output to its end (every process holding it has gone) and
    // reaps the child. Its shell-style status, or -1 when it did not end in
    // time.
    int WaitExit(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!eof_) {
            if (!Fill(deadline) && !eof_) {
                return -1;
            }
        }
        return Reap(deadline);
    }

    // Reaps the child without waiting for the end of its output (a grandchild
    // may still hold it).
    int WaitExitOnly(int timeoutMs) {
        return Reap(Clock::now() + std::chrono::milliseconds(timeoutMs));
    }

    // Waits for the end of the output alone: every holder has gone.
    bool WaitOutputEnd(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!eof_) {
            if (!Fill(deadline) && !eof_) {
                return false;
            }
        }
        return true;
    }

    void Signal(int sig) const {
        if (pid_ > 0) {
            ::kill(pid_, sig);
        }
    }

  private:
    using Clock = std::chrono::steady_clock;

    static int LeftMs(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    int Reap(Clock::time_point deadline) {
        if (pid_ <= 0) {
            return -1;
        }
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd < 0) {
            return -1;
        }
        pollfd pfd{pidfd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, LeftMs(deadline));
        ::close(pidfd);
        if (ready <= 0) {
            return -1;
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Reads what is there, waiting until the deadline; false when nothing
    // came (time-out or end of output).
    bool Fill(Clock::time_point deadline) {
        if (eof_) {
            return false;
        }
        pollfd pfd{out_, POLLIN, 0};
        if (::poll(&pfd, 1, LeftMs(deadline)) <= 0) {
            return false;
        }
        std::array<char, 4096> chunk{};
        const ssize_t n = ::read(out_, chunk.data(), chunk.size());
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        partial_.append(chunk.data(), static_cast<size_t>(n));
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool eof_ = false;
    std::string partial_;
    std::vector<std::string> lines_;
};

}  // namespace qm::backsim::test
