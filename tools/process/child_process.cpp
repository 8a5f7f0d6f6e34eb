#include "tools/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/clock.h"

extern char** environ;

namespace qm {
namespace {

bool MakePipe(UniqueFd* readEnd, UniqueFd* writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd->Reset(fds[0]);
    writeEnd->Reset(fds[1]);
    return true;
}

// The parent's environment with each NAME of setEnv replaced.
std::vector<std::string> Environment(const std::vector<std::string>& setEnv) {
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        bool replaced = false;
        for (const std::string& set : setEnv) {
            const size_t nameEnd = set.find('=') + 1;
            replaced = replaced || std::strncmp(*entry, set.c_str(), nameEnd) == 0;
        }
        if (!replaced)
            env.emplace_back(*entry);
    }
    env.insert(env.end(), setEnv.begin(), setEnv.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A pidfd is close-on-exec from birth. The raw call: glibc 2.36's
// <sys/pidfd.h> declares pidfd_open without C linkage. Kernels before 5.3
// answer ENOSYS.
int OpenPidFd(pid_t pid) {
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
}

// Waits until fd is readable or the deadline passes; false at the deadline.
bool Readable(int fd, const Deadline& deadline) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1;
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ <= 0 || exited_)
        return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const Options& options) {
    // Everything the child needs is made before fork: between fork and exec
    // a process with threads may only make async-signal-safe calls.
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<std::string> env = Environment(options.setEnv);
    std::vector<char*> envp = Pointers(env);

    UniqueFd input;
    if (options.nullInput) {
        input.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!input.Valid())
            return false;
    }
    UniqueFd outWrite;
    UniqueFd errWrite;
    if (!options.outputFile.empty()) {
        outWrite.Reset(
            open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!outWrite.Valid())
            return false;
    } else if (options.capture != Capture::kNothing && !MakePipe(&out_, &outWrite)) {
        return false;
    }
    if (options.capture == Capture::kClosedPipe)
        out_.Reset();
    if (options.capture == Capture::kOutputAndErrors && !MakePipe(&err_, &errWrite))
        return false;
    const bool errorsToOutput =
        !options.outputFile.empty() || options.capture == Capture::kClosedPipe;
    UniqueFd exitWrite;
    if (options.exitPipeFd >= 0 && !MakePipe(&exitPipe_, &exitWrite))
        return false;
    // The child writes here why it could not run the program; a successful
    // exec closes it.
    UniqueFd failRead;
    UniqueFd failWrite;
    if (!MakePipe(&failRead, &failWrite))
        return false;
    sigset_t none;
    sigemptyset(&none);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // The death signal is tied to the thread that forked. A parent that
        // died before prctl took effect has already gone: then end at once.
        if (options.endWithParent && (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent))
            _exit(127);
        if (options.ownProcessGroup)
            setpgid(0, 0);
        bool ready = options.cwd.empty() || chdir(options.cwd.c_str()) == 0;
        // dup2 clears close-on-exec on the copy, which the child keeps.
        if (ready && input.Valid())
            ready = dup2(input.Get(), STDIN_FILENO) >= 0;
        if (ready && outWrite.Valid())
            ready = dup2(outWrite.Get(), STDOUT_FILENO) >= 0;
        if (ready && (errWrite.Valid() || errorsToOutput))
            ready = dup2(errWrite.Valid() ? errWrite.Get() : outWrite.Get(), STDERR_FILENO) >= 0;
        if (ready && exitWrite.Valid()) {
            ready = exitWrite.Get() == options.exitPipeFd
                        ? fcntl(exitWrite.Get(), F_SETFD, 0) == 0
                        : dup2(exitWrite.Get(), options.exitPipeFd) >= 0;
        }
        if (ready && options.clearSignalMask)
            sigprocmask(SIG_SETMASK, &none, nullptr);
        if (ready)
            execve(argv[0], argv.data(), envp.data());
        const int err = errno;
        [[maybe_unused]] const ssize_t n = write(failWrite.Get(), &err, sizeof err);
        _exit(127);
    }
    // The child has its own copies of the write ends.
    failWrite.Reset();
    outWrite.Reset();
    errWrite.Reset();
    exitWrite.Reset();
    int childErr = 0;
    ssize_t n;
    do {
        n = read(failRead.Get(), &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof childErr)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        out_.Reset();
        err_.Reset();
        exitPipe_.Reset();
        errno = childErr;
        return false;
    }
    pid_ = pid;
    pidfd_.Reset(OpenPidFd(pid));
    return true;
}

void ChildProcess::Ended(int status) {
    exited_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool ChildProcess::Reap() {
    if (exited_)
        return true;
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR))
        return false;
    if (r < 0) {
        exited_ = true;
        exitCode_ = 1;  // somebody else reaped it; its status is lost
        return true;
    }
    Ended(status);
    return true;
}

bool ChildProcess::Wait(int64_t timeoutMs) {
    if (exited_)
        return true;
    if (!pidfd_.Valid())
        return Reap();
    // The pidfd turns readable at the end: an event, not a polling loop.
    if (!Readable(pidfd_.Get(), Deadline(timeoutMs)))
        return false;
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_)
        return false;
    Ended(status);
    return true;
}

bool ChildProcess::WaitPipeClosed(int64_t timeoutMs) {
    if (!exitPipe_.Valid())
        return false;
    const Deadline deadline(timeoutMs);
    for (;;) {
        if (!Readable(exitPipe_.Get(), deadline))
            return false;
        char c;
        if (read(exitPipe_.Get(), &c, 1) <= 0)
            return true;
    }
}

bool ChildProcess::Signal(int sig) const {
    return pid_ > 0 && !exited_ && kill(pid_, sig) == 0;
}

std::optional<std::string> ChildProcess::ReadLine(int64_t timeoutMs) {
    const Deadline deadline(timeoutMs);
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        if (!out_.Valid() || !Readable(out_.Get(), deadline))
            return std::nullopt;
        char buffer[1024];
        ssize_t got;
        do {
            got = read(out_.Get(), buffer, sizeof buffer);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return std::nullopt;
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

bool ChildProcess::ReadLine(std::string* line, int64_t timeoutMs) {
    std::optional<std::string> next = ReadLine(timeoutMs);
    if (next)
        *line = std::move(*next);
    return next.has_value();
}

bool ChildProcess::SeeLine(const std::string& text, int64_t timeoutMs) {
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

std::string ChildProcess::Stderr() {
    std::string text;
    char buffer[512];
    while (err_.Valid()) {
        pollfd p{err_.Get(), POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            break;
        const ssize_t got = read(err_.Get(), buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace qm
