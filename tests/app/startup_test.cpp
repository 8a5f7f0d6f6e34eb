// Start-up: the folder layout, the swap clean-up, the packet log reset, the
// log that keeps growing, and a site without a TXT folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/startup.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

using StartUpTest = SiteTest;

TEST_F(StartUpTest, FoldersFollowTheProgramFolder) {
    site_ = qm::SiteContext{};
    qm::StartUp(site_, 0);
    EXPECT_EQ(site_.programDir, home_);
    EXPECT_EQ(site_.txtDir, home_ + "/TXT");
    EXPECT_EQ(site_.swapDir, home_ + "/TXT/Swap");
    EXPECT_TRUE(std::filesystem::is_directory(site_.swapDir));
    ASSERT_NE(site_.replyBuffer, nullptr);
    ASSERT_NE(site_.dataReadyEvent, nullptr);
    EXPECT_TRUE(site_.dataReadyEvent->Valid());
    EXPECT_FALSE(site_.dataReadyEvent->IsSet());
}

TEST_F(StartUpTest, SwapFilesGoSubFoldersStay) {
    const std::string swap = Txt("Swap");
    ASSERT_EQ(mkdir(swap.c_str(), 0755), 0);
    ASSERT_TRUE(WriteBytes(swap + "/DX_12", "\x01old\r\n"));
    ASSERT_TRUE(WriteBytes(swap + "/Bak", "spill"));
    ASSERT_EQ(mkdir((swap + "/keep").c_str(), 0755), 0);
    ASSERT_TRUE(WriteBytes(swap + "/keep/inner.txt", "inner"));
    // A link to a folder elsewhere is not a folder of the swap area: the
    // link goes, what it points at stays.
    const std::string outside = base_ + "/outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    ASSERT_TRUE(WriteBytes(outside + "/precious", "p"));
    ASSERT_EQ(symlink(outside.c_str(), (swap + "/link").c_str()), 0);

    qm::StartUp(site_, 0);

    EXPECT_FALSE(PathExists(swap + "/DX_12"));
    EXPECT_FALSE(PathExists(swap + "/Bak"));
    EXPECT_FALSE(PathExists(swap + "/link"));
    EXPECT_TRUE(std::filesystem::is_directory(swap + "/keep"));
    EXPECT_EQ(ReadBytes(swap + "/keep/inner.txt"), "inner");
    EXPECT_EQ(ReadBytes(outside + "/precious"), "p");
}

TEST_F(StartUpTest, PacketLogIsDeletedAndAppLogKept) {
    ASSERT_TRUE(WriteBytes(Cwd("QMPktLog.txt"), "old packets\r\n"));
    ASSERT_TRUE(WriteBytes(Cwd("QMLog.txt"), "earlier run\r\n"));
    // The program folder's own copies are not the current folder's.
    ASSERT_TRUE(WriteBytes(Home("QMPktLog.txt"), "not ours\r\n"));

    qm::StartUp(site_, 0);
    qm::AppLog("later", 1, 0);

    EXPECT_FALSE(PathExists(Cwd("QMPktLog.txt")));
    EXPECT_TRUE(PathExists(Home("QMPktLog.txt")));
    auto log = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->rfind("earlier run\r\n[QMAPP] ", 0), 0u) << *log;
    EXPECT_EQ(log->substr(log->size() - 7), "later\r\n");
}

TEST_F(StartUpTest, MissingTxtFolderLeavesAnEmptySite) {
    ASSERT_EQ(rmdir(txt_.c_str()), 0);
    site_.stationCount = 5;
    EXPECT_EQ(qm::StartUp(site_, 0), 0);
    EXPECT_EQ(site_.stationCount, 0u);
    EXPECT_FALSE(site_.tooManyStations);
    // The TXT folder belongs to the back-end: it is never created here.
    EXPECT_FALSE(PathExists(txt_));
    EXPECT_NE(site_.replyBuffer, nullptr);
}

TEST_F(StartUpTest, LoadsStationsTerminalsAndTitle) {
    ASSERT_TRUE(WriteBytes(Txt("基站.TXT"), "1 COM3\r\n2 COM4\r\n"));
    ASSERT_TRUE(WriteBytes(Txt("点菜机.TXT"), "12 1\r\n13 2\r\n14 1\r\n"));
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "ABC\r\n"));
    EXPECT_EQ(qm::StartUp(site_, 0), 0);  // no window: the link stays down
    ASSERT_EQ(site_.stationCount, 2u);
    EXPECT_FALSE(site_.tooManyStations);
    ASSERT_EQ(site_.stations[0].dcbCount, 2);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 12);
    EXPECT_EQ(site_.stations[0].dcbIds[1], 14);
    ASSERT_EQ(site_.stations[1].dcbCount, 1);
    EXPECT_EQ(site_.stations[1].dcbIds[0], 13);
    const auto title = qm::VenueTitle();
    EXPECT_EQ(std::string(title.begin(), title.end()), "        ABC         ");
}

}  // namespace
}  // namespace qm::test
