// A program under test as a child process of the test. Every wait is
// bounded; a child still running at the end is killed by its own pid and
// reaped.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"

extern char** environ;

namespace qm::test {

class ChildProcess {
  public:
    // What of the child's output comes to the test through pipes. Output the
    // test does not read stays the test's own: a pipe nobody reads fills up
    // and stalls a talkative child. kClosedPipe: output and errors go into a
    // pipe whose reading end is closed, so every write to them fails (EPIPE).
    enum class Capture { kNothing, kOutput, kOutputAndErrors, kClosedPipe };

    ChildProcess() = default;
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait(5000);
        }
        for (int fd : {pidfd_, out_, err_})
            if (fd >= 0)
                close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program args...` with this process's environment, in the
    // folder `cwd` (empty: this process's). False, with errno, on failure.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "", Capture capture = Capture::kNothing) {
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (capture != Capture::kNothing && pipe2(out, O_CLOEXEC) != 0)
            return false;
        if (capture == Capture::kClosedPipe) {
            close(out[0]);
            out[0] = -1;
        }
        if (capture == Capture::kOutputAndErrors && pipe2(err, O_CLOEXEC) != 0) {
            CloseBoth(out);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (out[1] >= 0)
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (err[1] >= 0 || capture == Capture::kClosedPipe)
            posix_spawn_file_actions_adddup2(&actions, err[1] >= 0 ? err[1] : out[1],
                                             STDERR_FILENO);
        if (!cwd.empty())
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        // The child has its own copies of the write ends.
        if (out[1] >= 0)
            close(out[1]);
        if (err[1] >= 0)
            close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) {
            pid_ = -1;
            errno = rc;
            return false;
        }
        // The raw call: glibc 2.36's <sys/pidfd.h> declares pidfd_open without
        // C linkage, so C++ cannot link against it.
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        return pidfd_ >= 0;
    }

    // Waits at most timeoutMs for the child to end; true once it has ended
    // and been reaped. The pidfd turns readable at the end: an event, not a
    // polling loop.
    bool Wait(int64_t timeoutMs) {
        if (exited_)
            return true;
        if (pidfd_ < 0)
            return false;
        const Deadline deadline(timeoutMs);
        pollfd p{pidfd_, POLLIN, 0};
        int n;
        do {
            n = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
        } while (n < 0 && errno == EINTR);
        if (n != 1)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_)
            return false;
        exited_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }

    // The exit status as a shell gives it, or -1 when the child did not end
    // in time.
    int WaitExit(int64_t timeoutMs) { return Wait(timeoutMs) ? exitCode_ : -1; }

    bool Exited() const { return exited_; }
    // The exit status as a shell gives it (128 + the signal for a killed
    // child); -1 while the child runs.
    int ExitCode() const { return exited_ ? exitCode_ : -1; }

    void Signal(int sig) const {
        if (pid_ > 0 && !exited_)
            kill(pid_, sig);
    }

    // The next whole line of standard output without its end; nullopt at the
    // end of the output or when none came in time.
    std::optional<std::string> ReadLine(int64_t timeoutMs) {
        const Deadline deadline(timeoutMs);
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            if (!Fill(deadline))
                return std::nullopt;
        }
    }
    bool ReadLine(std::string* line, int64_t timeoutMs) {
        std::optional<std::string> next = ReadLine(timeoutMs);
        if (next)
            *line = std::move(*next);
        return next.has_value();
    }

    // Reads lines until one contains `text`; false at time-out or the end of
    // the output.
    bool SeeLine(const std::string& text, int64_t timeoutMs) {
        const Deadline deadline(timeoutMs);
        for (;;) {
            const std::optional<std::string> line = ReadLine(deadline.RemainingMs());
            if (!line)
                return false;
            if (line->find(text) != std::string::npos)
                return true;
            if (deadline.Expired())
                return false;
        }
    }

    // What the child has written to standard error so far, without waiting
    // (call after Wait for all of it).
    std::string Stderr() {
        std::string text;
        char buffer[512];
        for (;;) {
            pollfd p{err_, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0)
                break;
            const ssize_t got = read(err_, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }

  private:
    static void CloseBoth(const int fds[2]) {
        close(fds[0]);
        close(fds[1]);
    }

    // Reads what standard output has, waiting until the deadline; false
    // when nothing came (time-out or end of output).
    bool Fill(const Deadline& deadline) {
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            const int n = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            char buffer[1024];
            const ssize_t got = read(out_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            pending_.append(buffer, static_cast<size_t>(got));
            return true;
        }
    }

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string pending_;
};

}  // namespace qm::test
