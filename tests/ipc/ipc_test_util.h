// Helpers of the inter-process tests: a private runtime folder per test, a
// child process (the built qm-post) with deadlines on everything, and raw
// sockets to play a misbehaving peer.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qmtest {

// Each test gets its own folder below /tmp and points $QM_RUNTIME_DIR at
// <folder>/rt (not yet created), so tests never meet each other's sockets.
class IpcTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string base_;     // the test's own temporary folder
    std::string runtime_;  // $QM_RUNTIME_DIR

  private:
    std::string savedQm_, savedXdg_;
    bool hadQm_ = false, hadXdg_ = false;
};

// A child process with its standard output and error on pipes. Everything
// that waits for it takes a deadline; a child still running at destruction is
// killed (by its own pid) and reaped.
class Child {
  public:
    static std::unique_ptr<Child> Spawn(const std::vector<std::string>& argv);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // One line of standard output without its newline; false at end of file
    // or when none came in time.
    bool ReadLine(std::string* line, int64_t timeoutMs);
    // Exit status, 128 + signal for a killed child, or -1 when it did not end
    // in time.
    int Wait(int64_t timeoutMs);
    // What the child wrote to standard error (call after Wait).
    std::string Stderr();
    pid_t Pid() const { return pid_; }

  private:
    Child() = default;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
    std::string pending_;
};

std::string QmPostPath();
std::unique_ptr<Child> SpawnQmPost(const std::vector<std::string>& args);
// Runs qm-post to its end; returns its exit status (-1: did not end in time).
int RunQmPost(const std::vector<std::string>& args, std::string* err = nullptr,
              std::string* out = nullptr);

// A datagram socket bound at path and kept open (a live owner); -1 on error.
int BindRaw(const std::string& path);
// Leaves a socket file whose socket is closed: a stale file.
bool MakeStaleSocket(const std::string& path);
// One datagram to path; 0 or errno.
int SendRaw(const std::string& path, const void* data, size_t size);
// Inode of path, 0 when it does not exist.
ino_t InodeOf(const std::string& path);
bool Exists(const std::string& path);

}  // namespace qmtest
