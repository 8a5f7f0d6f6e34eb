// DX.txt, the back-end's short message: read by position, always deleted,
// and queued as a record in the terminal's file below TXT/Swap.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/site_files.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

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
    const struct {
        const char* file;
        std::string bytes, swap, record;
    } cases[] = {
        {"DX.txt", "001 012 ok\r\n", "DX_12", "\x01ok\r\n"},
        // No blanks needed: bytes 0-2 and 4-6 are read on their own.
        {"DX.txt", "12345678xyz\r\n", "DX_55", "\x7Bxyz\r\n"},  // 123; 567 mod 256
        {"DX.txt", "255 300 x\n", "DX_44", "\xFFx\r\n"},        // eight bits
        {"DX.txt", "002 007 ab\rcd\r\n", "DX_07",
         "\x02"
         "ab\r\n"},  // the first line end
        {"DX.txt", "003 009 " + std::string(50, 'm') + "\r\n", "DX_09",
         "\x03" + std::string(40, 'm') + "\r\n"},
        {"DX.TXT", "004 003 hi\r\n", "DX_03", "\x04hi\r\n"},
    };
    for (const auto& c : cases) {
        Deliver(c.bytes, c.file);
        EXPECT_EQ(ReadBytes(Swap(c.swap)), c.record) << c.bytes;
    }
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

TEST_F(ShortMessageFileTest, MissingFileDoesNothing) {
    qm::LoadShortMessage(site_);
    EXPECT_FALSE(SwapHasFiles());
}

}  // namespace
}  // namespace qm::test
