#include "tests/ipc/ipc_test_util.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm::test {
namespace {

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

}  // namespace

std::string QmPostPath() {
    return std::string(QM_BINARY_DIR) + "/tools/qm-post";
}

std::unique_ptr<qm::ChildProcess> SpawnQmPost(const std::vector<std::string>& args) {
    auto child = std::make_unique<qm::ChildProcess>();
    if (!child->Start(QmPostPath(), args, "", qm::ChildProcess::Capture::kOutputAndErrors))
        return nullptr;
    return child;
}

int RunQmPost(const std::vector<std::string>& args, std::string* err, std::string* out) {
    auto child = SpawnQmPost(args);
    if (!child)
        return -1;
    int status = child->WaitExit(10000);
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

int SendRawAsAnotherUser(const std::string& path, const void* data, size_t size) {
    // The child reaches the socket as root (the folder is private), then
    // becomes another user before it sends: the kernel stamps the datagram
    // with the uid of the moment of sending. Only async-signal-safe calls
    // after fork, and the raw system call so that only this thread changes.
    sockaddr_un addr = Address(path);
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            _exit(2);
        if (syscall(SYS_setresgid, 65534, 65534, 65534) != 0)
            _exit(3);
        if (syscall(SYS_setresuid, 65534, 65534, 65534) != 0)
            _exit(4);
        _exit(send(fd, data, size, 0) == static_cast<ssize_t>(size) ? 0 : 5);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 6;
    return WEXITSTATUS(status);
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace qm::test
