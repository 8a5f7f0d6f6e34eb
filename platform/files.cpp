#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/ascii_case.h"
#include "platform/program_folder.h"
#include "platform/unique_fd.h"

namespace qm {
namespace {

bool WriteAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyBytes(int in, int out) {
    char buf[16 * 1024];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAll(out, buf, static_cast<size_t>(n)))
            return false;
    }
}

// Removes a file that is not to be kept; false, with the errno of the
// failure that led here.
bool Discard(const std::string& path) {
    const int err = errno;
    unlink(path.c_str());
    errno = err;
    return false;
}

}  // namespace

bool CreateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0)
        return true;
    return errno == EEXIST && IsFolder(path);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<DirEntry> ListFolder(const std::string& path) {
    std::vector<DirEntry> entries;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return entries;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            // Some file systems do not fill in the type.
            struct stat st {};
            folder = lstat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({std::move(name), folder});
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

bool DeleteFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
    UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return false;
    struct stat src {};
    if (fstat(in.Get(), &src) != 0 || !S_ISREG(src.st_mode))
        return false;
    // Opening the source itself as the target would truncate it before a
    // byte was read.
    struct stat dst {};
    if (stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
        return false;
    }
    UniqueFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.Get() < 0)
        return false;
    bool copied = CopyBytes(in.Get(), out.Get());
    if (out.Close() && copied)
        return true;
    unlink(to.c_str());
    return false;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    UniqueFd out(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.Valid())
        return false;
    // A short write would leave a truncated file that reads as whole.
    const bool written = WriteAll(out.Get(), static_cast<const char*>(data), size);
    const int err = errno;
    if (!out.Close())
        return false;
    errno = err;
    return written;
}

bool AppendWhole(const std::string& path, const void* data, size_t size) {
    UniqueFd out(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!out.Valid())
        return false;
    struct stat before {};
    if (fstat(out.Get(), &before) != 0)
        return false;
    const bool written = WriteAll(out.Get(), static_cast<const char*>(data), size);
    const int err = errno;
    const bool closed = out.Close();
    if (written && closed)
        return true;
    const int failure = written ? errno : err;
    // Take the part written back. When even that fails the file keeps it;
    // the caller hears of the failed append all the same.
    [[maybe_unused]] const bool undone = truncate(path.c_str(), before.st_size) == 0;
    errno = failure;
    return false;
}

bool ReplaceFile(const std::string& path, const void* data, size_t size) {
    // A name of its own beside the target, hidden from a plain listing and
    // unique among the writers of this process and of others.
    static std::atomic<uint32_t> serial{0};
    const size_t slash = path.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::string temp = path.substr(0, base) + "." + path.substr(base) + "." +
                             std::to_string(getpid()) + "-" + std::to_string(serial++);
    UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.Get() < 0)
        return false;
    const bool written = WriteAll(out.Get(), static_cast<const char*>(data), size);
    if (!out.Close() || !written)
        return Discard(temp);
    struct stat target {};
    const bool present = lstat(path.c_str(), &target) == 0;
    if (present && S_ISDIR(target.st_mode)) {
        errno = EISDIR;
        return Discard(temp);
    }
    // Exchanged rather than renamed over: ext4 writes a file renamed over
    // another one back to the disk at once (so that a crash cannot leave an
    // empty file where a full one stood), which costs milliseconds on a busy
    // disk. After the exchange the temporary name holds the old file, which
    // goes. Without a target, or on a file system that cannot exchange, a
    // plain rename does.
    if (present &&
        renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        unlink(temp.c_str());
        return true;
    }
    if (rename(temp.c_str(), path.c_str()) == 0)
        return true;
    return Discard(temp);
}

std::string FindFileIgnoringCase(const std::string& dir, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return {};
    }
    struct stat st {};
    if (lstat((dir + "/" + name).c_str(), &st) == 0)
        return name;
    for (const DirEntry& e : ListFolder(dir)) {
        if (EqualIgnoringCase(e.name, name))
            return e.name;
    }
    return {};
}

std::string ProgramDir() {
    return CurrentProgramDir().dir;
}

size_t ReadFileAt(const std::string& path, uint64_t offset, void* buffer, size_t size) {
    UniqueFd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < size) {
        ssize_t r = pread(in.Get(), out + got, size - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    return got;
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes) {
    UniqueFd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return std::nullopt;
    std::string bytes;
    char chunk[8192];
    for (;;) {
        const ssize_t n = read(in.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return bytes;
        if (static_cast<size_t>(n) > maxBytes - bytes.size()) {
            errno = EFBIG;
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace qm
