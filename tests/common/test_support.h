// Helpers shared by the test programs: temporary folders, environment and
// current-folder guards, whole-file reads and writes, bounded waits.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace qm::test {

// A fresh folder, removed with everything in it at the end; its path is
// empty when it could not be made.
class TempDir {
  public:
    TempDir() : TempDir(std::string()) {}
    // Below `parent`, or below the system's temporary folder when it is empty.
    explicit TempDir(const std::string& parent) {
        const std::filesystem::path where =
            parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
        std::string pattern = (where / "qmtest-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets or clears an environment variable for the life of the guard and puts
// the old value, or its absence, back afterwards.
class ScopedEnv {
  public:
    // A null value clears the variable.
    ScopedEnv(const char* name, const char* value) : ScopedEnv(name) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    // Only remembers the value, for a test that changes the variable itself.
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* old = getenv(name))
            old_ = old;
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Changes the current folder for the life of the guard.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

  private:
    std::filesystem::path old_;
};

// The bytes of a text.
inline std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

// Writes bytes as the whole file, into a folder that must already be there:
// a test that writes into a folder the code under test should have made
// finds out when it did not. True when every byte was written.
inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

// The whole file; nullopt when it cannot be opened, so that a missing file
// and an empty one stay apart.
inline std::optional<std::string> ReadBytes(const std::string& path) {
    return ReadWholeFile(path, size_t{1} << 30);
}

// Writes bytes as the whole file, making the folders above it first.
inline bool WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return WriteBytes(path, bytes);
}

// The whole file; empty when it cannot be opened.
inline std::string ReadFile(const std::string& path) {
    return ReadBytes(path).value_or("");
}

// Whether path leads to something; a link that leads nowhere does not count.
inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Whether the name itself is there, a link counting as itself even when it
// leads nowhere.
inline bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Waits until pred holds, checking whenever woken by the clock; bounded.
// For conditions that nothing signals (a file appearing, a log line), this
// is the only way to wait: it checks often and gives up at the deadline.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Runs fn while files of this process may grow to `bytes` only, as on a full
// disk: opening works, writing does not get far.
template <class Fn>
void WithFileSizeLimit(rlim_t bytes, Fn fn) {
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    fn();
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
}

// Lines of QMLog.txt in the current folder.
inline std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::ifstream in("QMLog.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

inline int CountLogLines(const std::string& text) {
    int n = 0;
    for (const auto& l : LogLines())
        if (l.find(text) != std::string::npos)
            ++n;
    return n;
}

}  // namespace qm::test
