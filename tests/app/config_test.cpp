// QM.ini: its defaults, its integer rules, where it is read from, and how the
// debug level it sets gates the log.
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "tests/app/site_test_fixture.h"

namespace {

using qm::test::PathExists;
using qm::test::WriteBytes;
using qmtest::SiteTest;

using ConfigTest = SiteTest;

TEST_F(ConfigTest, MissingFileGivesTheDefaults) {
    const qm::ConfigValues c = qm::ReadConfig(Home("QM.ini").c_str());
    EXPECT_EQ(c.debugLevel, 1u);
    EXPECT_EQ(c.retryTimes, 5u);
    EXPECT_EQ(c.beaconInterval, 100u);
    EXPECT_EQ(c.beaconTimeout, 3000u);
}

TEST_F(ConfigTest, EachKeyReachesItsOwnField) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"),
                           "[CONFIG]\r\nDebugLevel=3\r\nRetryTimes=7\r\n"
                           "BeaconInterVal=250\r\nBeaconTimeout=4000\r\n"));
    const qm::ConfigValues c = qm::ReadConfig(Home("QM.ini").c_str());
    EXPECT_EQ(c.debugLevel, 3u);
    EXPECT_EQ(c.retryTimes, 7u);
    EXPECT_EQ(c.beaconInterval, 250u);
    EXPECT_EQ(c.beaconTimeout, 4000u);
}

TEST_F(ConfigTest, ValueWithoutLeadingDigitReadsAsZero) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=abc\r\nRetryTimes=12x\r\n"));
    const qm::ConfigValues c = qm::ReadConfig(Home("QM.ini").c_str());
    EXPECT_EQ(c.debugLevel, 0u);
    EXPECT_EQ(c.retryTimes, 12u);
    EXPECT_EQ(c.beaconTimeout, 3000u);  // missing key: default
}

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

TEST_F(ConfigTest, DebugLevelZeroSilencesGuardedLogging) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=0\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 0u);
    EXPECT_FALSE(qm::LogEnabled(qm::kLogErrors));
    if (qm::LogEnabled(qm::kLogErrors))
        qm::AppLog("must not appear", 1, 1);
    EXPECT_FALSE(PathExists(Cwd("QMLog.txt")));
}

TEST_F(ConfigTest, DebugLevelAbcSilencesGuardedLoggingToo) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=abc\r\n"));
    qm::StartUp(site_, 0);
    if (qm::LogEnabled(qm::kLogErrors))
        qm::AppLog("must not appear", 1, 1);
    EXPECT_FALSE(PathExists(Cwd("QMLog.txt")));
}

TEST_F(ConfigTest, IniComesFromProgramFolderAndLogGoesToCurrentFolder) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=3\r\n"));
    // A decoy in the current folder must not be the one read.
    ASSERT_TRUE(WriteBytes(Cwd("QM.ini"), "[CONFIG]\r\nDebugLevel=0\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 3u);
    EXPECT_TRUE(qm::LogEnabled(qm::kLogDownload));
    EXPECT_FALSE(qm::LogEnabled(qm::kLogPackets));
    qm::AppLog("here", 1, 1);
    EXPECT_TRUE(PathExists(Cwd("QMLog.txt")));
    EXPECT_FALSE(PathExists(Home("QMLog.txt")));
}

}  // namespace
