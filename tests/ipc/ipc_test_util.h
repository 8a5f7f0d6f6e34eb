// Helpers of the inter-process tests: a private runtime folder per test, the
// built qm-post as a child process with deadlines on everything, and raw
// sockets to play a misbehaving peer.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/test_support.h"
#include "tools/process/child_process.h"

namespace qm::test {

// Each test gets its own folder and points $QM_RUNTIME_DIR at <folder>/rt
// (not yet created), so tests never meet each other's sockets; what the test
// does to $XDG_RUNTIME_DIR is undone too.
class IpcTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(base_.empty()) << "no temporary folder"; }

  private:
    // Below /tmp whatever $TMPDIR says: the sockets live in the runtime
    // folder, and a socket's path has room for 107 bytes only.
    qm::test::TempDir dir_{"/tmp"};

  protected:
    std::string base_ = dir_.path();       // the test's own temporary folder
    std::string runtime_ = base_ + "/rt";  // $QM_RUNTIME_DIR

  private:
    qm::test::ScopedEnv xdg_{"XDG_RUNTIME_DIR"};
    qm::test::ScopedEnv qm_{"QM_RUNTIME_DIR", runtime_};
};

std::string QmPostPath();
// qm-post with its standard output and error on pipes; null when it could
// not be started.
std::unique_ptr<qm::ChildProcess> SpawnQmPost(const std::vector<std::string>& args);
// Runs qm-post to its end; returns its exit status (-1: did not end in time).
int RunQmPost(const std::vector<std::string>& args, std::string* err = nullptr,
              std::string* out = nullptr);

// A datagram socket bound at path and kept open (a live owner); -1 on error.
int BindRaw(const std::string& path);
// Leaves a socket file whose socket is closed: a stale file.
bool MakeStaleSocket(const std::string& path);
// One datagram to path; 0 or errno.
int SendRaw(const std::string& path, const void* data, size_t size);
// One datagram to path sent as another user (uid 65534): 0 when sent, else a
// code of the child that tried. Needs root.
int SendRawAsAnotherUser(const std::string& path, const void* data, size_t size);
// Inode of path, 0 when it does not exist.
ino_t InodeOf(const std::string& path);

}  // namespace qm::test
