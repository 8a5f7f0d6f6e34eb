// The runtime folder: where it is, that it is made private, and that a folder
// others could tamper with is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/named_event.h"
#include "platform/runtime_dir.h"
#include "platform/window_message.h"
#include "tests/ipc/ipc_test_util.h"

namespace qm::test {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

class RuntimeDirTest : public IpcTest {};

TEST_F(RuntimeDirTest, CreatesTheMissingFolderPrivate) {
    const mode_t old = umask(0277);  // a umask that takes the owner's bits still gives 0700
    int err = -1;
    std::string dir = qm::RuntimeDir(&err);
    umask(old);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(dir, runtime_);
    EXPECT_EQ(ModeOf(runtime_), 0700u);
}

// A folder the group may read is taken and left as it is; one that the group
// or others may write, or a file in its place, is refused.
TEST_F(RuntimeDirTest, TakesOnlyAFolderNobodyElseMayWrite) {
    const struct {
        mode_t mode;  // 0: a file instead of the folder
        int err;
    } cases[] = {{0750, 0}, {0770, EPERM}, {0703, EPERM}, {0, ENOTDIR}};
    for (const auto& c : cases) {
        std::filesystem::remove_all(runtime_);
        if (c.mode) {
            ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
            ASSERT_EQ(chmod(runtime_.c_str(), c.mode), 0);
        } else {
            std::ofstream(runtime_) << "not a folder";
        }
        int err = -1;
        EXPECT_EQ(qm::RuntimeDir(&err), c.err ? "" : runtime_) << c.mode;
        EXPECT_EQ(err, c.err) << c.mode;
        if (c.mode) {
            EXPECT_EQ(ModeOf(runtime_), c.mode);
        }
    }
}

TEST_F(RuntimeDirTest, RefusesAFolderOfAnotherUser) {
    ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    const uid_t other = geteuid() == 65534 ? 65533 : 65534;
    if (chown(runtime_.c_str(), other, static_cast<gid_t>(-1)) != 0) {
        GTEST_SKIP() << "cannot give a folder to another user without privilege: "
                     << std::strerror(errno);
    }
    int err = 0;
    EXPECT_EQ(qm::RuntimeDir(&err), "");
    EXPECT_EQ(err, EPERM);
}

TEST_F(RuntimeDirTest, RefusesAFolderBehindAnotherUsersLink) {
    const std::string target = base_ + "/target";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), runtime_.c_str()), 0);
    int err = -1;
    // Our own link is followed ...
    EXPECT_EQ(qm::RuntimeDir(&err), runtime_);
    EXPECT_EQ(err, 0);
    // ... another user's is not.
    const uid_t other = geteuid() == 65534 ? 65533 : 65534;
    if (lchown(runtime_.c_str(), other, static_cast<gid_t>(-1)) != 0) {
        GTEST_SKIP() << "cannot give a link to another user without privilege";
    }
    EXPECT_EQ(qm::RuntimeDir(&err), "");
    EXPECT_EQ(err, EPERM);
}

// An empty QM_RUNTIME_DIR counts as unset.
TEST_F(RuntimeDirTest, FallsBackToXdgRuntimeDir) {
    setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        std::filesystem::remove_all(base_ + "/qm");
        qm::test::ScopedEnv runtime("QM_RUNTIME_DIR", value);
        int err = -1;
        EXPECT_EQ(qm::RuntimeDir(&err), base_ + "/qm");
        EXPECT_EQ(err, 0);
        EXPECT_EQ(ModeOf(base_ + "/qm"), 0700u);
    }
}

TEST_F(RuntimeDirTest, FallsBackToTmpPerUser) {
    unsetenv("QM_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    const std::string expected = "/tmp/qm-" + std::to_string(getuid());
    const bool existed = qm::test::PathExists(expected);
    int err = -1;
    std::string dir = qm::RuntimeDir(&err);
    if (!existed)
        rmdir(expected.c_str());  // leave /tmp as it was
    if (err != 0) {
        GTEST_SKIP() << expected
                     << " exists on this machine and is refused: " << std::strerror(err);
    }
    EXPECT_EQ(dir, expected);
}

TEST_F(RuntimeDirTest, WindowsAndEventsRefuseAnOpenFolder) {
    ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    ASSERT_EQ(chmod(runtime_.c_str(), 0770), 0);
    int err = 0;
    EXPECT_EQ(qm::MessageWindow::Create(4100, &err), nullptr);
    EXPECT_EQ(err, EPERM);
    EXPECT_FALSE(qm::PostMessage(4100, 1280, 0, 1));
    EXPECT_EQ(errno, EPERM);
    EXPECT_FALSE(qm::SetNamedEvent("__QM_MUTEXT"));
    EXPECT_EQ(errno, EPERM);
    const qm::Event stop(qm::Event::Mode::kManualReset, false);
    EXPECT_EQ(qm::NamedEventListener::Create("__QM_MUTEXT", stop, &err), nullptr);
    EXPECT_EQ(err, EPERM);
}

}  // namespace
}  // namespace qm::test
