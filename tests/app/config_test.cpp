// QM.ini: its defaults, where it is read from, and how the debug level it
// sets gates the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
TEST_F(ConfigTest, DebugLevelZeroSilencesTheLog) {
    ASSERT_TRUE(WriteBytes(Home("QM.ini"), "[CONFIG]\r\nDebugLevel=0\r\nBeaconInterVal=0\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 0u);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 20u);  // judged all the same
    EXPECT_EQ(qm::ForwardReply(site_, 1), 0);
    EXPECT_FALSE(PathExists(Cwd("QMLog.txt")));
}

// The value each key takes from QM.ini, and the log line that says when it
// is not the value written.
TEST_F(ConfigTest, EachValueIsJudgedByTheRangeOfItsKey) {
    const struct {
        const char* key;
        std::string written;
        uint32_t used;
        std::string note;  // empty: none
    } cases[] = {
        {"BeaconInterVal", "20", 20, ""},
        {"BeaconInterVal", "2000", 2000, ""},
        {"BeaconInterVal", "0", 20, "QM.ini BeaconInterVal=0 out of range 20..2000: 20 used"},
        {"BeaconInterVal", "2001", 2000,
         "QM.ini BeaconInterVal=2001 out of range 20..2000: 2000 used"},
        {"BeaconInterVal", "abc", 100, "QM.ini BeaconInterVal=abc not a number: 100 used"},
        {"BeaconInterVal", "150ms", 150,
         "QM.ini BeaconInterVal=150ms not a plain number: 150 used"},
        {"BeaconInterVal", "5 ms", 20, "QM.ini BeaconInterVal=5 ms out of range 20..2000: 20 used"},
        {"BeaconInterVal", "", 100, ""},  // no value: as if the key were missing
        {"BeaconTimeout", "99", 100, "QM.ini BeaconTimeout=99 out of range 100..30000: 100 used"},
        {"BeaconTimeout", "99999999999", 30000,
         "QM.ini BeaconTimeout=99999999999 out of range 100..30000: 30000 used"},
        {"BeaconTimeout", std::string(60, '7'), 30000,
         "QM.ini BeaconTimeout=" + std::string(40, '7') +
             "... out of range 100..30000: 30000 used"},
        {"RetryTimes", "0", 0, ""},  // queued once, as ever
        {"RetryTimes", "21", 20, "QM.ini RetryTimes=21 out of range 0..20: 20 used"},
        {"RetryTimes", "-1", 5, "QM.ini RetryTimes=-1 not a number: 5 used"},
        {"DebugLevel", "4", 4, ""},
        {"DebugLevel", "9", 4, "QM.ini DebugLevel=9 out of range 0..4: 4 used"},
        {"DebugLevel", "abc", 1, "QM.ini DebugLevel=abc not a number: 1 used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.written);
        ASSERT_TRUE(
            WriteBytes(Home("QM.ini"), "[CONFIG]\r\n" + std::string(c.key) + "=" + c.written));
        const qm::ConfigValues v = qm::ReadConfig(Home("QM.ini").c_str());
        const std::string key = c.key;
        const uint32_t used = key == "BeaconInterVal"  ? v.beaconInterval
                              : key == "BeaconTimeout" ? v.beaconTimeout
                              : key == "RetryTimes"    ? v.retryTimes
                                                       : v.debugLevel;
        EXPECT_EQ(used, c.used);
        EXPECT_EQ(v.notes,
                  c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
    }
}

// The notes are written once the debug level read with them is in force,
// and the link gets the values used.
TEST_F(ConfigTest, StartUpLogsTheValuesNotTakenAsWritten) {
    ASSERT_TRUE(WriteBytes(Txt("基站.TXT"), "1 COM3\r\n"));  // a site, so nothing else is said
    ASSERT_TRUE(WriteBytes(Home("QM.ini"),
                           "[CONFIG]\r\nDebugLevel=7\r\nBeaconInterVal=0\r\nRetryTimes=x\r\n"));
    qm::StartUp(site_, 0);
    EXPECT_EQ(qm::DebugLevel(), 4u);
    EXPECT_EQ(qm::Params().beaconInterval.load(), 20u);
    EXPECT_EQ(qm::Params().retryTimes.load(), 5u);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    // First the folder they come from, then the notes.
    EXPECT_NE(lines[0].find("(HostID 255  DCBID 255)Program folder " + home_ + " (QM_HOME)"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("(HostID 255  DCBID 255)QM.ini DebugLevel=7 out of range 0..4: 4 used"),
              std::string::npos);
    EXPECT_NE(lines[2].find(")QM.ini RetryTimes=x not a number: 5 used"), std::string::npos);
    EXPECT_NE(lines[3].find(")QM.ini BeaconInterVal=0 out of range 20..2000: 20 used"),
              std::string::npos);
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
