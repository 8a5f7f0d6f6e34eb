#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/common/test_support.h"

namespace qm::test {
namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
    TempDir dir_;
};

TEST_F(FilesTest, CreateFolderMakesOneLevel) {
    EXPECT_TRUE(CreateFolder(dir_ / "Swap"));
    struct stat st {};
    ASSERT_EQ(0, stat((dir_ / "Swap").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(CreateFolder(dir_ / "Swap"));       // already there as a folder
    EXPECT_FALSE(CreateFolder(dir_ / "TXT/Swap"));  // parent missing
    ASSERT_TRUE(WriteBytes(dir_ / "plain", "x"));
    EXPECT_FALSE(CreateFolder(dir_ / "plain"));
}

TEST_F(FilesTest, ListFolderSkipsDotsAndTellsFoldersApart) {
    ASSERT_TRUE(WriteBytes(dir_ / "b.txt", "b"));
    ASSERT_TRUE(WriteBytes(dir_ / "基站.TXT", "s"));
    ASSERT_TRUE(CreateFolder(dir_ / "a-folder"));
    ASSERT_EQ(0, symlink((dir_ / "a-folder").c_str(), (dir_ / "c-link").c_str()));

    std::vector<DirEntry> entries = ListFolder(dir_.path());
    ASSERT_EQ(4u, entries.size());
    EXPECT_EQ("a-folder", entries[0].name);
    EXPECT_TRUE(entries[0].isFolder);
    EXPECT_EQ("b.txt", entries[1].name);
    EXPECT_FALSE(entries[1].isFolder);
    EXPECT_EQ("c-link", entries[2].name);
    EXPECT_FALSE(entries[2].isFolder) << "a symlink to a folder is not a folder";
    EXPECT_EQ("基站.TXT", entries[3].name);

    EXPECT_TRUE(ListFolder(dir_ / "missing").empty());
}

TEST_F(FilesTest, DeleteFileRemovesFilesOnly) {
    ASSERT_TRUE(WriteBytes(dir_ / "T1.txt", "x"));
    EXPECT_TRUE(DeleteFile(dir_ / "T1.txt"));
    EXPECT_FALSE(ReadBytes(dir_ / "T1.txt"));
    EXPECT_FALSE(DeleteFile(dir_ / "T1.txt"));
    ASSERT_TRUE(CreateFolder(dir_ / "sub"));
    EXPECT_FALSE(DeleteFile(dir_ / "sub"));
}

TEST_F(FilesTest, CopyReplacesTheTargetWithEveryByte) {
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31));
    bytes += std::string("\0\r\n\xD3\xC3", 5);
    ASSERT_TRUE(WriteBytes(dir_ / "from", bytes));
    ASSERT_TRUE(WriteBytes(dir_ / "Bak", std::string(300000, 'z')));

    EXPECT_TRUE(CopyFile(dir_ / "from", dir_ / "Bak"));
    EXPECT_EQ(bytes, ReadBytes(dir_ / "Bak"));
    EXPECT_TRUE(CopyFile(dir_ / "from", dir_ / "new"));
    EXPECT_EQ(bytes, ReadBytes(dir_ / "new"));
    EXPECT_TRUE(CopyFile(dir_ / "from", dir_ / "from2"));

    ASSERT_TRUE(WriteBytes(dir_ / "empty", ""));
    EXPECT_TRUE(CopyFile(dir_ / "empty", dir_ / "new"));
    EXPECT_EQ("", ReadBytes(dir_ / "new"));
}

TEST_F(FilesTest, CopyFailuresLeaveTheSourceAlone) {
    ASSERT_TRUE(WriteBytes(dir_ / "from", "keep me"));
    EXPECT_FALSE(CopyFile(dir_ / "from", dir_ / "from"));
    ASSERT_EQ(0, symlink((dir_ / "from").c_str(), (dir_ / "alias").c_str()));
    EXPECT_FALSE(CopyFile(dir_ / "from", dir_ / "alias"));
    EXPECT_EQ("keep me", ReadBytes(dir_ / "from"));

    EXPECT_FALSE(CopyFile(dir_ / "missing", dir_ / "to"));
    EXPECT_FALSE(ReadBytes(dir_ / "to"));
    EXPECT_FALSE(CopyFile(dir_ / "from", dir_ / "no-folder/to"));
    ASSERT_TRUE(CreateFolder(dir_ / "sub"));
    EXPECT_FALSE(CopyFile(dir_ / "sub", dir_ / "to"));
}

// On a full disk (here: a file size limit) a whole write reports the
// failure, and an append leaves no piece of its bytes behind.
TEST_F(FilesTest, WholeWritesFailOnAFullDiskWithoutAPiece) {
    ASSERT_TRUE(AppendWhole(dir_ / "DX", "ab\r\n", 4));
    ASSERT_TRUE(AppendWhole(dir_ / "DX", "cd\r\n", 4));
    bool appended = true, written = true;
    WithFileSizeLimit(10, [&] {
        appended = AppendWhole(dir_ / "DX", "efgh\r\n", 6);
        written = WriteWholeFile(dir_ / "Swap", "0123456789ab", 12);
    });
    EXPECT_FALSE(appended);
    EXPECT_EQ("ab\r\ncd\r\n", ReadBytes(dir_ / "DX"));
    EXPECT_FALSE(written);
}

// A file is read whole or not at all: one a byte over the bound, or one that
// spans several reads and then passes it, is refused rather than cut short.
TEST_F(FilesTest, ReadWholeFileGivesAllOrNothing) {
    const std::string big(20000, 'x');  // more than one read's chunk
    ASSERT_TRUE(WriteWholeFile(dir_ / "big", big.data(), big.size()));
    ASSERT_TRUE(WriteWholeFile(dir_ / "empty", "", 0));
    EXPECT_EQ(big, ReadWholeFile(dir_ / "big", big.size()));
    EXPECT_EQ("", ReadWholeFile(dir_ / "empty", 0));
    errno = 0;
    EXPECT_FALSE(ReadWholeFile(dir_ / "big", big.size() - 1));
    EXPECT_EQ(EFBIG, errno);
    EXPECT_FALSE(ReadWholeFile(dir_ / "big", 100));
    EXPECT_FALSE(ReadWholeFile(dir_ / "missing", 100));
    EXPECT_FALSE(ReadWholeFile(dir_.path(), 100));  // a folder
}

TEST_F(FilesTest, FindFileIgnoringCase) {
    ASSERT_TRUE(WriteBytes(dir_ / "BT.TXT", "upper"));
    EXPECT_EQ("BT.TXT", FindFileIgnoringCase(dir_.path(), "BT.txt"));
    EXPECT_EQ("BT.TXT", FindFileIgnoringCase(dir_.path(), "bt.txt"));
    EXPECT_EQ("BT.TXT", FindFileIgnoringCase(dir_.path(), "BT.TXT"));

    ASSERT_TRUE(WriteBytes(dir_ / "BT.txt", "exact"));
    EXPECT_EQ("BT.txt", FindFileIgnoringCase(dir_.path(), "BT.txt"));
    EXPECT_EQ("BT.TXT", FindFileIgnoringCase(dir_.path(), "BT.TXT"));

    // Only ASCII letters fold; the Chinese part must match byte for byte.
    ASSERT_TRUE(WriteBytes(dir_ / "基站.txt", "s"));
    EXPECT_EQ("基站.txt", FindFileIgnoringCase(dir_.path(), "基站.TXT"));
    EXPECT_EQ("", FindFileIgnoringCase(dir_.path(), "点菜机.TXT"));

    EXPECT_EQ("", FindFileIgnoringCase(dir_.path(), "BT.TX"));
    EXPECT_EQ("", FindFileIgnoringCase(dir_.path(), ""));
    EXPECT_EQ("", FindFileIgnoringCase(dir_.path(), "../BT.TXT"));
    EXPECT_EQ("", FindFileIgnoringCase(dir_ / "missing", "BT.txt"));
}

// $QM_HOME without its trailing slash; unset or empty, the executable's folder.
TEST_F(FilesTest, ProgramDirFollowsQmHomeElseTheExecutable) {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    const std::string path(exe, static_cast<size_t>(n));
    const std::string own = path.substr(0, path.rfind('/'));
    const struct {
        const char* home;
        std::string dir;
    } cases[] = {
        {"/opt/qm/", "/opt/qm"}, {"/opt/qm", "/opt/qm"}, {"/", "/"}, {nullptr, own}, {"", own}};
    for (const auto& c : cases) {
        ScopedEnv home("QM_HOME", c.home);
        EXPECT_EQ(c.dir, ProgramDir()) << (c.home ? c.home : "unset");
    }
    EXPECT_NE('/', own.back());
}

}  // namespace
}  // namespace qm::test
