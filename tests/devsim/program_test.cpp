// The qm-devsim program as the demo uses it: start it on a site with a script,
// wait for "ready", talk to its port, end it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/common/child_process.h"
#include "tests/common/test_support.h"
#include "tests/devsim/manager_line.h"
#include "tools/devsim/records.h"

namespace qm::devsim {
namespace {

using qm::test::ChildProcess;
using qm::test::TempDir;
using test::ManagerLine;

const std::string kProgram = std::string(QM_BINARY_DIR) + "/tools/qm-devsim";

// Starts qm-devsim with args; the test reads its standard output.
bool StartDevsim(ChildProcess& child, const std::vector<std::string>& args) {
    return child.Start(kProgram, args, "", ChildProcess::Capture::kOutput);
}

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st {};
        if (::stat(kProgram.c_str(), &st) != 0) {
            GTEST_SKIP() << kProgram << " is not built";
        }
        ASSERT_FALSE(home_.path().empty());
        ASSERT_EQ(::mkdir((home_.path() + "/TXT").c_str(), 0755), 0);
        Write("TXT/基站.TXT", "1 COM3\r\n");
        Write("TXT/点菜机.TXT", "12 1\r\n13 1\r\n");
    }

    void Write(const std::string& name, const std::string& content) {
        qm::test::WriteBytes(home_ / name, content);
    }

    std::string Home() const { return home_.path(); }

    TempDir home_;
};

TEST_F(Program, ServesTheSiteTracesAndEndsOnSigterm) {
    Write("demo.txt", "# order\nat 0 request 1 12 0x0D hello\n");
    ChildProcess child;
    ASSERT_TRUE(
        StartDevsim(child, {"--home", Home(), "--script", Home() + "/demo.txt", "--trace"}));
    ASSERT_EQ(child.ReadLine(5000), "ready");

    ManagerLine line;
    ASSERT_TRUE(line.Open(Home() + "/ports/COM3"));
    ASSERT_TRUE(line.Write(BeaconFrame(12)));
    EXPECT_EQ(line.ReadFrame(), DataFrame(12, 0x0D, 1, 1, Bytes{'h', 'e', 'l', 'l', 'o'}));
    ASSERT_TRUE(line.Write(BeaconFrame(13)));
    EXPECT_EQ(line.ReadFrame(), BeaconFrame(13));
    EXPECT_TRUE(child.SeeLine("COM3 -> T012 BEACON", 2000));
    EXPECT_TRUE(child.SeeLine("COM3 <- T012 DATA cmd=0x0D k=1/1 \"hello\"", 2000));
    EXPECT_TRUE(child.SeeLine("COM3 <- T013 BEACON", 2000));

    line.Close();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitExit(5000), 0);
    // The port's link goes with the program.
    struct stat st {};
    EXPECT_NE(::lstat((Home() + "/ports/COM3").c_str(), &st), 0);
}

}  // namespace
}  // namespace qm::devsim
