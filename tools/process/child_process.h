// A program run as a child process by the tests, the benchmarks and the
// back-end simulator. Every wait is bounded; a child still running when its
// owner goes is killed by its own pid and reaped.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace qm {

class ChildProcess {
  public:
    // What of the child's output comes to the parent through pipes. Output
    // the parent does not read stays the parent's own: a pipe nobody reads
    // fills up and stalls a talkative child. kClosedPipe: output and errors
    // go into a pipe whose reading end is closed, so every write to them
    // fails (EPIPE).
    enum class Capture { kNothing, kOutput, kOutputAndErrors, kClosedPipe };

    struct Options {
        std::string cwd;                  // empty: the parent's
        std::vector<std::string> setEnv;  // NAME=value, replacing the parent's NAME
        Capture capture = Capture::kNothing;
        std::string outputFile;  // not empty: output and errors go there (truncated)
        bool nullInput = false;  // standard input from /dev/null
        // A process group of its own, so that a Ctrl-C at the terminal
        // reaches only the parent.
        bool ownProcessGroup = false;
        // SIGTERM when the thread that started it ends, so that it never
        // outlives a parent that dies.
        bool endWithParent = false;
        bool clearSignalMask = false;
        // At or above 3: the child holds the write end of a pipe at this
        // descriptor, which reads end-of-file once the child and everything
        // that inherited it are gone (WaitPipeClosed).
        int exitPipeFd = -1;
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program args...` (program is a path, never looked up in
    // $PATH) with the parent's environment. False, with errno, when it
    // cannot be started or its program cannot be run.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const Options& options);
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "", Capture capture = Capture::kNothing) {
        Options options;
        options.cwd = cwd;
        options.capture = capture;
        return Start(program, args, options);
    }

    pid_t Pid() const { return pid_; }
    // Polls readable once the child has ended; -1 where the kernel has no
    // pidfd (then SIGCHLD tells, and Reap collects).
    int ExitFd() const { return pidfd_.Get(); }

    // Reaps the child if it has ended, without waiting; true once it has.
    bool Reap();
    // Waits at most timeoutMs for the child to end; true once it has ended
    // and been reaped. Without a pidfd, only reaps a child already ended.
    bool Wait(int64_t timeoutMs);
    // The exit status as a shell gives it, or -1 when the child did not end
    // in time.
    int WaitExit(int64_t timeoutMs) { return Wait(timeoutMs) ? exitCode_ : -1; }
    // True once the exit pipe (Options::exitPipeFd) reads end-of-file, false
    // when timeoutMs passed first.
    bool WaitPipeClosed(int64_t timeoutMs);

    bool Exited() const { return exited_; }
    // The exit status as a shell gives it (128 + the signal for a killed
    // child); -1 while the child runs.
    int ExitCode() const { return exited_ ? exitCode_ : -1; }

    // Sends a signal to a child not yet reaped (never to a reused pid).
    bool Signal(int sig) const;

    // The next whole line of standard output without its end; nullopt at the
    // end of the output or when none came in time.
    std::optional<std::string> ReadLine(int64_t timeoutMs);
    bool ReadLine(std::string* line, int64_t timeoutMs);
    // Reads lines until one contains `text`; false at time-out or the end of
    // the output.
    bool SeeLine(const std::string& text, int64_t timeoutMs);
    // What the child has written to standard error so far, without waiting
    // (call after Wait for all of it).
    std::string Stderr();

  private:
    void Ended(int status);

    pid_t pid_ = -1;
    UniqueFd pidfd_;
    UniqueFd out_;
    UniqueFd err_;
    UniqueFd exitPipe_;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string pending_;
};

}  // namespace qm
