// qm-backsim as the demo runs it: it starts the real manager, which talks to
// simulated terminals, answers the manager's requests and logons from its
// tables, sends a short message from its script, and on SIGTERM closes the
// manager and ends with the manager's exit status.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "tests/common/test_site.h"
#include "tools/devsim/device_simulator.h"
#include "tools/process/child_process.h"

namespace qm::test {
namespace {

using devsim::Bytes;
using qm::ChildProcess;

std::string Gbk(const std::string& utf8) {
    std::string gbk;
    EXPECT_TRUE(Utf8ToGbk(utf8, &gbk));
    return gbk;
}

TEST(BacksimProgram, ServesTheManagerAndClosesItOnSigterm) {
    TestSite site(TestSite::Cwd::kProgramFolder, TestSite::Runtime::kMade);
    ScopedEnv headless("QM_HEADLESS", "1");
    WriteFile(site / "TXT/基站.TXT", "1 COM3\r\n");
    WriteFile(site / "TXT/点菜机.TXT", "7 1\r\n");
    WriteFile(site / "TXT/users.txt", "zhang 1234\n");
    WriteFile(site / "script.txt", "# greet\nat 0 sms 4 7 你好\n");
    devsim::DeviceSimulator sim(site.path());
    devsim::Terminal& t7 = sim.AddStation("COM3").AddTerminal(7);
    ASSERT_TRUE(sim.Start());

    ChildProcess child;
    ASSERT_TRUE(child.Start(std::string(QM_BINARY_DIR) + "/tools/qm-backsim",
                            {"--home", site.path(), "--qm", std::string(QM_BINARY_DIR) + "/app/qm",
                             "--trace", "--script", site / "script.txt"},
                            site.path(), ChildProcess::Capture::kOutput));
    ASSERT_TRUE(child.SeeLine(" manager window ", 10000));
    // An opening (KT) for table 12 with 4 guests, then a logon.
    t7.QueueRequest(13, Text("00120400001000000900000001"));
    ASSERT_TRUE(sim.WaitFor([&] { return t7.Replies().size() == 1; }, 10000));
    t7.QueueRequest(29, Text("zhang     123400000001"));
    ASSERT_TRUE(sim.WaitFor([&] { return t7.Replies().size() == 2; }, 10000));
    ASSERT_TRUE(sim.WaitFor([&] { return !t7.ShortMessages().empty(); }, 10000));

    const auto replies = t7.Replies();
    EXPECT_EQ(std::string(replies[0].data.begin(), replies[0].data.end()),
              Gbk("OK 桌号 0012 开台成功") + std::string(19, ' ') + Gbk("人数 04") +
                  std::string(13, ' '));
    EXPECT_EQ(std::string(replies[1].data.begin(), replies[1].data.end()),
              "\x01zhang" + std::string(5, ' '));
    EXPECT_EQ(t7.ShortMessages()[0].number, 4);
    EXPECT_EQ(t7.ShortMessages()[0].text, Text(Gbk("你好")));

    child.Signal(SIGTERM);
    std::vector<std::string> lines;
    for (std::string line; child.ReadLine(&line, 10000);) lines.push_back(line);
    EXPECT_EQ(child.WaitExit(10000), 0) << "the manager's exit status";
    // The trace tells the exchanges, GBK shown as UTF-8.
    for (const char* traced :
         {" request T1.txt  KT   007 | 0012 04 00001 0000009 00000001",
          " reply   R1.txt  KT   007 | OK 桌号 0012 开台成功 | 人数 04",
          " reply   R1.txt  DL   007 | 1 zhang", " sms     DX.txt  004 007 你好",
          " exit    manager ended with status 0"}) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(traced) != std::string::npos;
        })) << traced;
    }
}

}  // namespace
}  // namespace qm::test
