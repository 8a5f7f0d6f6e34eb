// QM.ini: its defaults, where it is read from, and how the debug level it
// sets gates the log.
#include <gtest/gtest.h>

#include <string>

#include "app/pos_bridge.h"
#include "app/startup.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

using ConfigTest = SiteTest;

TEST_F(ConfigTest, StartUpWithoutIniUsesTheDefaults) {
    SDKSetParam(9, 9, 9);
    qm::SetDebugLevel(7);
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 1u);
    EXPECT_EQ(qm::Params().retryTimes.load(), 5u);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 100u);
    EXPECT_EQ(qm::Params().beaconTimeout.load(), 3000u);
}

TEST_F(ConfigTest, StartUpHandsEachLinkParameterToItsPlace) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"),
                           "[CONFIG]\r\nRetryTimes=7\r\nBeaconInterVal=250\r\n"
                           "BeaconTimeout=4000\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::Params().retryTimes.load(), 7u);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 250u);
    EXPECT_EQ(qm::Params().beaconTimeout.load(), 4000u);
}

// A reply file that cannot be read is logged at level 1.
TEST_F(ConfigTest, DebugLevelZeroOrNoNumberSilencesTheLog) {
    for (const char* level : {"0", "abc"}) {
        ASSERT_TRUE(WriteBytes(Home("QM.ini"), std::string("[CONFIG]\r\nDebugLevel=") + level));
        qm::StartUp(site_, 0);
        EXPECT_EQ(qm::DebugLevel(), 0u) << level;
        EXPECT_EQ(qm::ForwardReply(site_, 1), 0);
        EXPECT_FALSE(PathExists(Cwd("QMLog.txt"))) << level;
    }
}

TEST_F(ConfigTest, IniComesFromProgramFolderAndLogGoesToCurrentFolder) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=3\r\n"));
    // A decoy in the current folder must not be the one read.
    ASSERT_TRUE(WriteBytes(Cwd("QM.ini"), "[CONFIG]\r\nDebugLevel=0\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 3u);
    EXPECT_TRUE(qm::LogEnabled(qm::kLogDownload));
    EXPECT_FALSE(qm::LogEnabled(qm::kLogPackets));
    EXPECT_EQ(qm::ForwardReply(site_, 1), 0);
    EXPECT_NE(ReadFile(Cwd("QMLog.txt")).find("SDKGetRxFile Error"), std::string::npos);
    EXPECT_FALSE(PathExists(Home("QMLog.txt")));
}

}  // namespace
}  // namespace qm::test
