// DX.txt, the back-end's short message: read by position, always deleted,
// and queued as a record in the terminal's file below TXT/Swap.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/site_files.h"
#include "tests/app/site_test_fixture.h"

namespace {

using qm::test::PathExists;
using qm::test::ReadBytes;
using qm::test::WriteBytes;
using qmtest::SiteTest;

class ShortMessageFileTest : public SiteTest {
  protected:
    // Runs the reader over a DX.txt with the given bytes.
    void Deliver(const std::string& bytes, const char* name = "DX.txt") {
        ASSERT_TRUE(WriteBytes(Txt(name), bytes));
        qm::LoadShortMessage(site_);
        EXPECT_FALSE(PathExists(Txt(name))) << "DX.txt must be consumed";
    }
    std::string Swap(const std::string& name) const { return Txt("Swap/" + name); }
    bool SwapHasFiles() const {
        std::error_code ec;
        return std::filesystem::exists(Txt("Swap"), ec) &&
               !std::filesystem::is_empty(Txt("Swap"), ec);
    }
};

TEST_F(ShortMessageFileTest, MessageBecomesARecordOfItsTerminal) {
    Deliver("001 012 ok\r\n");
    EXPECT_EQ(ReadBytes(Swap("DX_12")), std::string("\x01ok\r\n"));
}

TEST_F(ShortMessageFileTest, NumbersAreTakenByPositionThreeCharactersEach) {
    // No blanks needed: bytes 0-2 and 4-6 are read on their own.
    Deliver("12345678xyz\r\n");
    EXPECT_EQ(ReadBytes(Swap("DX_55")), std::string("\x7Bxyz\r\n"));  // 123; 567 mod 256
}

TEST_F(ShortMessageFileTest, NumbersAreKeptAsEightBits) {
    Deliver("255 300 x\n");
    EXPECT_EQ(ReadBytes(Swap("DX_44")), std::string("\xFFx\r\n"));
}

TEST_F(ShortMessageFileTest, TextEndsAtTheFirstLineEnd) {
    Deliver("002 007 ab\rcd\r\n");
    EXPECT_EQ(ReadBytes(Swap("DX_07")), std::string("\x02"
                                                    "ab\r\n"));
}

TEST_F(ShortMessageFileTest, TextIsCutAt40Bytes) {
    const std::string text(50, 'm');
    Deliver("003 009 " + text + "\r\n");
    EXPECT_EQ(ReadBytes(Swap("DX_09")), "\x03" + std::string(40, 'm') + "\r\n");
}

TEST_F(ShortMessageFileTest, TwoMessagesGiveTwoRecords) {
    Deliver("001 012 one\r\n");
    Deliver("002 012 two\r\n");
    EXPECT_EQ(ReadBytes(Swap("DX_12")), std::string("\x01one\r\n\x02two\r\n"));
}

TEST_F(ShortMessageFileTest, NumbersWithoutTextAreDropped) {
    Deliver("001 012");
    Deliver("001 012\r\n");
    Deliver("001 012 \r\n");
    Deliver("");
    EXPECT_FALSE(SwapHasFiles());
}

TEST_F(ShortMessageFileTest, UpperCaseNameIsFoundAndDeleted) {
    Deliver("004 003 hi\r\n", "DX.TXT");
    EXPECT_EQ(ReadBytes(Swap("DX_03")), std::string("\x04hi\r\n"));
}

TEST_F(ShortMessageFileTest, MissingFileDoesNothing) {
    qm::LoadShortMessage(site_);
    EXPECT_FALSE(SwapHasFiles());
}

}  // namespace
