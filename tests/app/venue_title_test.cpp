// The venue title: BT.txt, else 酒店名称.txt, first line, at most 20 bytes,
// centred in the service's 20-byte field.
#include <gtest/gtest.h>

#include <string>

#include "app/site_files.h"
#include "link/link_params.h"
#include "tests/app/site_test_fixture.h"

namespace {

using qm::test::WriteBytes;
using qmtest::SiteTest;

class VenueTitleTest : public SiteTest {
  protected:
    void SetUp() override {
        SiteTest::SetUp();
        // A known title, so that "left as it is" can be seen.
        std::string before = "previous-title-xxxxx";
        SDKSetHotelTitle(reinterpret_cast<uint8_t*>(before.data()), 20);
    }
    static std::string Title() {
        const auto t = qm::VenueTitle();
        return std::string(t.begin(), t.end());
    }
};

TEST_F(VenueTitleTest, ShortTitleIsCentredWithoutItsLineEnd) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "ABC\r\nsecond line\r\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(8, ' ') + "ABC" + std::string(9, ' '));
}

TEST_F(VenueTitleTest, LongLineGivesItsFirst20Bytes) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "ABCDEFGHIJKLMNOPQRSTUVWXY\r\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(VenueTitleTest, LineEndIsDroppedOnlyWhenInsideTheFirst20Bytes) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "ABCDEFGHIJKLMNOPQRS\r\n"));  // 19 bytes
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), "ABCDEFGHIJKLMNOPQRS ");
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "ABCDEFGHIJKLMNOPQRST\r\n"));  // 20 bytes
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(VenueTitleTest, BlanksTabsAndGbkBytesAreKept) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), " \xBE\xC6\t\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(8, ' ') + " \xBE\xC6\t" + std::string(8, ' '));
}

TEST_F(VenueTitleTest, BtTxtWinsOverTheChineseName) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), "BT\r\n"));
    ASSERT_TRUE(WriteBytes(Txt("酒店名称.txt"), "HOTEL\r\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(9, ' ') + "BT" + std::string(9, ' '));
}

TEST_F(VenueTitleTest, ChineseNameIsUsedWhenBtTxtIsMissing) {
    ASSERT_TRUE(WriteBytes(Txt("酒店名称.txt"), "HOTEL\r\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(7, ' ') + "HOTEL" + std::string(8, ' '));
}

TEST_F(VenueTitleTest, UpperCaseBtTxtIsFound) {
    ASSERT_TRUE(WriteBytes(Txt("BT.TXT"), "UP\r\n"));
    ASSERT_TRUE(WriteBytes(Txt("酒店名称.txt"), "HOTEL\r\n"));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(9, ' ') + "UP" + std::string(9, ' '));
}

TEST_F(VenueTitleTest, EmptyFileGivesBlanks) {
    ASSERT_TRUE(WriteBytes(Txt("BT.txt"), ""));
    EXPECT_EQ(qm::LoadVenueTitle(site_), 1);
    EXPECT_EQ(Title(), std::string(20, ' '));
}

TEST_F(VenueTitleTest, NoTitleFileLeavesTheTitleAlone) {
    EXPECT_EQ(qm::LoadVenueTitle(site_), 0);
    EXPECT_EQ(Title(), "previous-title-xxxxx");
}

}  // namespace
