// qm-backsim as a process, with a stand-in manager (helpers/fake_manager.cpp)
// as its child: the handshake, requests and replies, logons, master data,
// short messages from its script, and its end on SIGTERM with the manager's
// exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "tests/common/child_process.h"
#include "tests/common/test_support.h"

namespace qm::backsim {
namespace {

using qm::test::ChildProcess;
using qm::test::Exists;
using qm::test::ReadFile;
using qm::test::ScopedEnv;
using qm::test::TempDir;
using qm::test::WriteFile;

const std::string kSimulator = std::string(QM_BINARY_DIR) + "/tools/qm-backsim";
const std::string kFakeManager = std::string(QM_BINARY_DIR) + "/tools/qm-fake-manager";
constexpr int kStepMs = 10000;

std::string Gbk(const std::string& utf8) {
    std::string gbk;
    EXPECT_TRUE(Utf8ToGbk(utf8, &gbk));
    return gbk;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(BacksimProgram, ServesTheManagerAndClosesItOnSigterm) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string home = dir / "home";
    const std::string txt = home + "/TXT/";
    ScopedEnv runtime("QM_RUNTIME_DIR", dir / "run");
    ScopedEnv exitStatus("QM_FAKE_EXIT", "7");
    ASSERT_EQ(::mkdir((dir / "run").c_str(), 0700), 0);
    WriteFile(txt + "users.txt", "zhang 1234\nli 8888\n");
    WriteFile(txt + "replies.txt", "KT|OK 桌号 {1}|第二行\n");
    WriteFile(txt + "菜品表.TXT", "0001 dish\r\n");
    WriteFile(dir / "script.txt", "# greet\nat 0 sms 2 13 你好\nat 0 open\n");

    ChildProcess child;
    ASSERT_TRUE(child.Start(
        kSimulator,
        {"--home", home, "--qm", kFakeManager, "--trace", "--script", dir / "script.txt"},
        dir.path(), ChildProcess::Capture::kOutput));
    std::vector<std::string> lines;
    const auto seen = [&lines](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    // The stand-in's last exchange, then the script's notices (read before it
    // or after it), then the end: every line is kept.
    for (std::string line; !seen("fake: done") && child.ReadLine(&line, kStepMs);)
        lines.push_back(line);
    ASSERT_TRUE(seen("fake: done"));
    for (std::string line;
         !(seen("fake: notice 12") && seen("fake: DX ")) && child.ReadLine(&line, kStepMs);)
        lines.push_back(line);
    child.Signal(SIGTERM);
    for (std::string line; child.ReadLine(&line, kStepMs);) lines.push_back(line);
    EXPECT_EQ(child.WaitExit(kStepMs), 7) << "the manager's exit status";

    EXPECT_TRUE(seen("fake: home " + home));
    EXPECT_TRUE(seen("fake: R1 ok KT   007"));
    EXPECT_TRUE(seen("fake: R2 ok DL   007"));
    EXPECT_TRUE(seen("fake: DL 1 li"));
    EXPECT_TRUE(seen("fake: data-ready"));
    EXPECT_TRUE(seen("fake: DX " + Hex("002 013 " + Gbk("你好") + "\r\n")));
    EXPECT_TRUE(seen("fake: notice 12"));
    EXPECT_TRUE(seen("fake: closing"));
    EXPECT_EQ(ReadFile(txt + "R1.txt"),
              "KT   007\r\n" + Gbk("OK 桌号 0012") + "\r\n" + Gbk("第二行") + "\r\n");
    EXPECT_EQ(ReadFile(txt + "R2.txt"), "DL   007\r\n1 zhang\r\n");
    EXPECT_EQ(ReadFile(txt + "菜品表.TXT"), "0001 dish\r\n");
    EXPECT_TRUE(Exists(txt + "新改菜品表.TXT"));

    // The trace tells the exchanges, GBK shown as UTF-8.
    EXPECT_TRUE(seen(" request T1.txt  KT   007 | 0012 04 00001 0000009 00000001"));
    EXPECT_TRUE(seen(" reply   R1.txt  KT   007 | OK 桌号 0012 | 第二行"));
    EXPECT_TRUE(seen(" sms     DX.txt  002 013 你好"));
    EXPECT_TRUE(seen(" exit    manager ended with status 7"));
    // The window went with the simulator: the runtime folder holds nothing.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "run"));
}

}  // namespace
}  // namespace qm::backsim
