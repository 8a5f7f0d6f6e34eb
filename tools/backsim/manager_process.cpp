#include "tools/backsim/manager_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/backsim/unique_fd.h"

extern char** environ;

namespace qm::backsim {
namespace {

constexpr const char* kHomeVariable = "QM_HOME=";

// A pidfd is close-on-exec from birth. Kernels before 5.3 answer ENOSYS.
int OpenPidFd(pid_t pid) {
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
}

}  // namespace

std::string ResolveProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        // An empty entry of $PATH is the current folder.
        const std::string_view dir = dirs.substr(0, colon);
        std::string candidate(dir.empty() ? std::string_view(".") : dir);
        candidate += '/';
        candidate += name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        dirs.remove_prefix(colon + 1);
    }
}

std::unique_ptr<ManagerProcess> ManagerProcess::Start(const std::string& program,
                                                      WindowHandle backEndWindow,
                                                      const std::string& home, std::string* error) {
    const std::string path = ResolveProgram(program);
    if (path.empty()) {
        *error = "no program " + program + " in $PATH";
        return nullptr;
    }
    // Everything the child needs is made before fork: between fork and exec
    // a process with threads may only make async-signal-safe calls.
    std::vector<std::string> args = {path, std::to_string(backEndWindow)};
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (std::strncmp(*entry, kHomeVariable, std::strlen(kHomeVariable)) != 0) {
            env.emplace_back(*entry);
        }
    }
    std::string homeEntry = kHomeVariable;
    homeEntry += home;
    env.push_back(std::move(homeEntry));
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    int fds[2];
    if (devNull.Get() < 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot prepare the manager's start: ") + std::strerror(errno);
        return nullptr;
    }
    // The child writes its exec failure here; a successful exec closes it.
    UniqueFd failRead(fds[0]);
    UniqueFd failWrite(fds[1]);
    sigset_t none;
    sigemptyset(&none);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("cannot start the manager: ") + std::strerror(errno);
        return nullptr;
    }
    if (pid == 0) {
        // The death signal is tied to the thread that forked: the main
        // thread, which lives as long as the simulator. A parent that died
        // before prctl took effect has already gone: then end at once.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) {
            ::_exit(127);
        }
        ::setpgid(0, 0);
        ::dup2(devNull.Get(), STDIN_FILENO);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        const int err = errno;
        [[maybe_unused]] const ssize_t n = ::write(failWrite.Get(), &err, sizeof err);
        ::_exit(127);
    }
    failWrite.Reset();
    int childErr = 0;
    ssize_t n;
    do {
        n = ::read(failRead.Get(), &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof childErr)) {
        ::waitpid(pid, nullptr, 0);
        *error = "cannot run " + path + ": " + std::strerror(childErr);
        return nullptr;
    }
    return std::make_unique<ManagerProcess>(Key{}, pid, OpenPidFd(pid));
}

ManagerProcess::~ManagerProcess() {
    if (!ended_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
}

bool ManagerProcess::Reap() {
    if (ended_) {
        return true;
    }
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) {
        return false;
    }
    ended_ = true;
    if (r < 0) {
        status_ = 1;  // somebody else reaped it; its status is lost
    } else if (WIFEXITED(status)) {
        status_ = WEXITSTATUS(status);
    } else {
        status_ = 128 + WTERMSIG(status);
    }
    return true;
}

bool ManagerProcess::Signal(int sig) const {
    return !ended_ && ::kill(pid_, sig) == 0;
}

}  // namespace qm::backsim
