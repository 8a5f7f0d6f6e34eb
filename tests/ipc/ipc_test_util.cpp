#include "tests/ipc/ipc_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"

extern char** environ;

namespace qmtest {
namespace {

void SaveEnv(const char* name, std::string* value, bool* had) {
    const char* v = std::getenv(name);
    *had = v != nullptr;
    *value = v ? v : "";
}

void RestoreEnv(const char* name, const std::string& value, bool had) {
    if (had) {
        setenv(name, value.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

}  // namespace

void IpcTest::SetUp() {
    SaveEnv("QM_RUNTIME_DIR", &savedQm_, &hadQm_);
    SaveEnv("XDG_RUNTIME_DIR", &savedXdg_, &hadXdg_);
    char tmpl[] = "/tmp/qm-ipc-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr) << std::strerror(errno);
    base_ = tmpl;
    runtime_ = base_ + "/rt";
    setenv("QM_RUNTIME_DIR", runtime_.c_str(), 1);
}

void IpcTest::TearDown() {
    RestoreEnv("QM_RUNTIME_DIR", savedQm_, hadQm_);
    RestoreEnv("XDG_RUNTIME_DIR", savedXdg_, hadXdg_);
    if (!base_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }
}

std::unique_ptr<Child> Child::Spawn(const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return nullptr;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        errno = rc;
        return nullptr;
    }
    std::unique_ptr<Child> child(new Child);
    child->pid_ = pid;
    child->out_ = out[0];
    child->err_ = err[0];
    // The raw call: glibc 2.36's <sys/pidfd.h> declares pidfd_open without
    // C linkage, so C++ cannot link against it.
    child->pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return child;
}

Child::~Child() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0)
        close(pidfd_);
    if (out_ >= 0)
        close(out_);
    if (err_ >= 0)
        close(err_);
}

bool Child::ReadLine(std::string* line, int64_t timeoutMs) {
    const qm::Deadline deadline(timeoutMs);
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            *line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        pollfd p{out_, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        char buffer[512];
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

int Child::Wait(int64_t timeoutMs) {
    if (!reaped_) {
        // The pidfd turns readable when the child ends: an event, not a
        // polling loop.
        const qm::Deadline deadline(timeoutMs);
        pollfd p{pidfd_, POLLIN, 0};
        int n;
        do {
            n = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return -1;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_)
            return -1;
        reaped_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return exitCode_;
}

std::string Child::Stderr() {
    std::string text;
    char buffer[512];
    for (;;) {
        pollfd p{err_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            break;
        ssize_t got = read(err_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

std::string QmPostPath() {
    return std::string(QM_BINARY_DIR) + "/tools/qm-post";
}

std::unique_ptr<Child> SpawnQmPost(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QmPostPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Child::Spawn(argv);
}

int RunQmPost(const std::vector<std::string>& args, std::string* err, std::string* out) {
    auto child = SpawnQmPost(args);
    if (!child)
        return -1;
    int status = child->Wait(10000);
    if (err)
        *err = child->Stderr();
    if (out) {
        std::string line;
        out->clear();
        while (child->ReadLine(&line, 0)) *out += line + "\n";
    }
    return status;
}

int BindRaw(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr = Address(path);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool MakeStaleSocket(const std::string& path) {
    int fd = BindRaw(path);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

int SendRaw(const std::string& path, const void* data, size_t size) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_un addr = Address(path);
    ssize_t n =
        sendto(fd, data, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int e = n < 0 ? errno : 0;
    close(fd);
    return e;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace qmtest
