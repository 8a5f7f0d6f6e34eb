// qm-backsim as a process, with a stand-in manager (helpers/fake_manager.cpp)
// as its child: the handshake, requests and replies, logons, master data,
// commands from a script and from standard input, and every way of ending.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "tests/backsim/child_process.h"
#include "tests/common/test_support.h"

namespace qm::backsim {
namespace {

using qm::test::Exists;
using qm::test::ReadFile;
using qm::test::ScopedEnv;
using qm::test::TempDir;
using qm::test::WriteFile;
using test::ChildProcess;

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

bool Traced(const ChildProcess& child, const std::string& text) {
    for (const std::string& line : child.Lines()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class BacksimProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        ASSERT_EQ(::mkdir(Runtime().c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(Home().c_str(), 0755), 0);
        WriteFile(Txt("users.txt"), "zhang 1234\nli 8888\n");
    }

    std::string Runtime() const { return dir_ / "run"; }
    std::string Home() const { return dir_ / "home"; }
    std::string Txt(const std::string& name) const { return Home() + "/TXT/" + name; }

    bool Start(ChildProcess& child, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--home", Home(), "--qm", kFakeManager, "--trace"};
        args.insert(args.end(), extra.begin(), extra.end());
        return child.Start(kSimulator, args, dir_.path());
    }

    TempDir dir_;
    ScopedEnv runtime_{"QM_RUNTIME_DIR", dir_ / "run"};
};

TEST_F(BacksimProgram, ServesTheManagerAndClosesItOnQuit) {
    WriteFile(Txt("replies.txt"), "KT|OK 桌号 {1}|第二行\n");
    WriteFile(Txt("菜品表.TXT"), "0001 dish\r\n");
    WriteFile(dir_ / "script.txt", "# greet\nat 0 sms 1 12 hello\n");
    ScopedEnv exitStatus("QM_FAKE_EXIT", "7");
    ChildProcess child;
    ASSERT_TRUE(Start(child, {"--script", dir_ / "script.txt"}));

    ASSERT_TRUE(child.SeeLine("fake: done", kStepMs));
    EXPECT_TRUE(child.Saw("fake: handle " + std::to_string(child.Pid())));
    EXPECT_TRUE(child.Saw("fake: home " + Home()));
    EXPECT_TRUE(child.Saw("fake: R1 ok KT   007"));
    EXPECT_TRUE(child.Saw("fake: R2 ok DL   007"));
    EXPECT_TRUE(child.Saw("fake: DL 1 li"));
    EXPECT_TRUE(child.Saw("fake: data-ready"));
    EXPECT_EQ(ReadFile(Txt("R1.txt")),
              "KT   007\r\n" + Gbk("OK 桌号 0012") + "\r\n" + Gbk("第二行") + "\r\n");
    EXPECT_EQ(ReadFile(Txt("R2.txt")), "DL   007\r\n1 zhang\r\n");
    EXPECT_EQ(ReadFile(Txt("菜品表.TXT")), "0001 dish\r\n");
    EXPECT_TRUE(Exists(Txt("新改菜品表.TXT")));

    // The script's message may be read before or after the exchanges.
    ASSERT_TRUE(child.SeeLine("fake: DX " + Hex("001 012 hello\r\n"), kStepMs));
    ASSERT_TRUE(child.Write("sms 2 13 你好\n"));
    EXPECT_TRUE(child.SeeLine("fake: DX " + Hex("002 013 " + Gbk("你好") + "\r\n"), kStepMs));
    ASSERT_TRUE(child.Write("bogus\nopen\n"));
    EXPECT_TRUE(child.SeeLine("fake: notice 12", kStepMs));
    ASSERT_TRUE(child.Write("quit\n"));
    EXPECT_EQ(child.WaitExit(kStepMs), 7) << "the manager's exit status";
    EXPECT_TRUE(child.Saw("fake: closing"));

    // The trace tells the exchanges, GBK shown as UTF-8.
    EXPECT_TRUE(Traced(child, " request T1.txt  KT   007 | 0012 04 00001 0000009 00000001"));
    EXPECT_TRUE(Traced(child, " reply   R1.txt  KT   007 | OK 桌号 0012 | 第二行"));
    EXPECT_TRUE(Traced(child, " sms     DX.txt  002 013 你好"));
    EXPECT_TRUE(Traced(child, " exit    manager ended with status 7"));
    // The window went with the simulator.
    EXPECT_FALSE(Exists(Runtime() + "/hwnd-" + std::to_string(child.Pid())));
}

// "+1.234 kind ...": the time in ms; -1 when the line is no trace line.
int64_t TraceTimeMs(const std::string& line) {
    long seconds = 0;
    int ms = 0;
    if (std::sscanf(line.c_str(), "+%ld.%3d", &seconds, &ms) != 2) {
        return -1;
    }
    return seconds * 1000 + ms;
}

TEST_F(BacksimProgram, ScriptFaultAtZeroDelaysTheFirstReply) {
    WriteFile(dir_ / "script.txt", "at 0 reply-delay 300\n");
    ChildProcess child;
    ASSERT_TRUE(Start(child, {"--script", dir_ / "script.txt"}));
    ASSERT_TRUE(child.SeeLine("fake: R1 ok KT   007", kStepMs));
    int64_t asked = -1;
    int64_t answered = -1;
    for (const std::string& line : child.Lines()) {
        if (line.find(" request T1.txt") != std::string::npos) {
            asked = TraceTimeMs(line);
        }
        if (line.find(" reply   R1.txt") != std::string::npos) {
            answered = TraceTimeMs(line);
        }
    }
    EXPECT_TRUE(Traced(child, " delay   R1.txt in 300 ms"));
    ASSERT_GE(asked, 0);
    ASSERT_GE(answered, 0);
    // The delay counts from the notice; the request's trace line follows the
    // notice by the time it takes to read T1.txt, so allow for that, while
    // an answer without the delay would come within a millisecond or two.
    EXPECT_GE(answered - asked, 250);
    ASSERT_TRUE(child.SeeLine("fake: done", kStepMs));
    ASSERT_TRUE(child.Write("quit\n"));
    EXPECT_EQ(child.WaitExit(kStepMs), 0);
}

TEST_F(BacksimProgram, ScriptEndClosesTheManager) {
    WriteFile(dir_ / "script.txt", "end 0\n");
    ChildProcess child;
    ASSERT_TRUE(Start(child, {"--script", dir_ / "script.txt"}));
    EXPECT_EQ(child.WaitExit(kStepMs), 0);
    EXPECT_TRUE(child.Saw("fake: closing"));
}

TEST_F(BacksimProgram, SignalEndsAStubbornManagerBySigterm) {
    ScopedEnv mode("QM_FAKE_MODE", "stubborn");
    ChildProcess child;
    ASSERT_TRUE(Start(child, {"--close-timeout", "200"}));
    ASSERT_TRUE(child.SeeLine("fake: done", kStepMs));
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitExit(kStepMs), 128 + SIGTERM);
    EXPECT_TRUE(child.Saw("fake: ignoring close"));
}

TEST_F(BacksimProgram, ExitsWithTheManagersStatus) {
    ScopedEnv mode("QM_FAKE_MODE", "exit:5");
    ChildProcess child;
    ASSERT_TRUE(Start(child));
    EXPECT_EQ(child.WaitExit(kStepMs), 5);
}

TEST_F(BacksimProgram, ManagerDoesNotOutliveAKilledSimulator) {
    ChildProcess child;
    ASSERT_TRUE(Start(child));
    ASSERT_TRUE(child.SeeLine("fake: done", kStepMs));
    child.Signal(SIGKILL);
    EXPECT_EQ(child.WaitExitOnly(kStepMs), 128 + SIGKILL);
    // The manager shares the output pipe: its end means the manager is gone.
    EXPECT_TRUE(child.WaitOutputEnd(kStepMs));
}

TEST_F(BacksimProgram, RefusesBadInput) {
    WriteFile(dir_ / "bad-script.txt", "at soon open\n");
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{}, 2},
        {{"--home", Home()}, 2},
        {{"--home", dir_ / "nowhere", "--qm", kFakeManager}, 2},
        {{"--home", Home(), "--qm", kFakeManager, "--script", dir_ / "bad-script.txt"}, 2},
        {{"--home", Home(), "--qm", kFakeManager, "--script", dir_ / "missing.txt"}, 2},
        {{"--home", Home(), "--qm", dir_ / "no-such-manager"}, 1},
    };
    for (const auto& [args, status] : cases) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(kSimulator, args, dir_.path()));
        EXPECT_EQ(child.WaitExit(kStepMs), status) << (args.empty() ? "" : args.back());
    }
}

TEST_F(BacksimProgram, RefusesABadRepliesFile) {
    WriteFile(Txt("replies.txt"), "KT without a bar\n");
    ChildProcess child;
    ASSERT_TRUE(Start(child));
    EXPECT_EQ(child.WaitExit(kStepMs), 2);
}

}  // namespace
}  // namespace qm::backsim
