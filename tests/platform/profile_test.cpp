#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_support.h"

namespace qm {
namespace {

using test::TempDir;
using test::WriteBytes;

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
    // Writes QM.ini with the given text and reads CONFIG/key from it.
    uint32_t Read(const std::string& text, const char* key, uint32_t def = 77) {
        EXPECT_TRUE(WriteBytes(Ini(), text));
        return ReadProfileInt(Ini(), "CONFIG", key, def);
    }
    std::string Ini() const { return dir_ / "QM.ini"; }
    TempDir dir_;
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(5u, ReadProfileInt(dir_ / "none.ini", "CONFIG", "RetryTimes", 5));
    EXPECT_EQ(5u, Read("[OTHER]\r\nRetryTimes=9\r\n", "RetryTimes", 5));
    EXPECT_EQ(100u, Read("[CONFIG]\r\nRetryTimes=9\r\n", "BeaconInterVal", 100));
    EXPECT_EQ(3000u, Read("", "BeaconTimeout", 3000));
    // A key of another section after the wanted one does not count.
    EXPECT_EQ(1u, Read("[CONFIG]\n[LATER]\nDebugLevel=4\n", "DebugLevel", 1));
}

TEST_F(ProfileTest, ValueIsItsLeadingDecimalNumber) {
    EXPECT_EQ(4u, Read("[CONFIG]\r\nDebugLevel=4\r\n", "DebugLevel"));
    EXPECT_EQ(0u, Read("[CONFIG]\r\nDebugLevel=abc\r\n", "DebugLevel"));
    EXPECT_EQ(12u, Read("[CONFIG]\r\nDebugLevel=12x\r\n", "DebugLevel"));
    EXPECT_EQ(0u, Read("[CONFIG]\r\nDebugLevel=0\r\n", "DebugLevel"));
    EXPECT_EQ(0u, Read("[CONFIG]\r\nDebugLevel=-1\r\n", "DebugLevel"));
    EXPECT_EQ(0u, Read("[CONFIG]\r\nDebugLevel=0x10\r\n", "DebugLevel"));
    EXPECT_EQ(7u, Read("[CONFIG]\r\nDebugLevel=007\r\n", "DebugLevel"));
    EXPECT_EQ(3u, Read("[CONFIG]\r\nDebugLevel=3 ; three\r\n", "DebugLevel"));
    // An entry without a value keeps the default.
    EXPECT_EQ(77u, Read("[CONFIG]\r\nDebugLevel=\r\n", "DebugLevel"));
}

TEST_F(ProfileTest, LargeNumbersStopAtTheTopOfTheRange) {
    EXPECT_EQ(4294967295u, Read("[CONFIG]\nBeaconTimeout=4294967295\n", "BeaconTimeout"));
    EXPECT_EQ(4294967295u, Read("[CONFIG]\nBeaconTimeout=4294967296\n", "BeaconTimeout"));
    EXPECT_EQ(4294967295u,
              Read("[CONFIG]\nBeaconTimeout=99999999999999999999999999\n", "BeaconTimeout"));
    EXPECT_EQ(429496729u, Read("[CONFIG]\nBeaconTimeout=429496729\n", "BeaconTimeout"));
}

TEST_F(ProfileTest, NamesIgnoreCaseAndBlanks) {
    EXPECT_EQ(9u, Read("[config]\r\nretrytimes=9\r\n", "RetryTimes"));
    EXPECT_EQ(9u, ReadProfileInt(Ini(), "CoNfIg", "RETRYTIMES", 1));
    EXPECT_EQ(250u, Read("  [ CONFIG ]  \r\n\t BeaconInterVal \t=\t 250 \t\r\n", "BeaconInterVal"));
    EXPECT_EQ(250u, ReadProfileInt(Ini(), " CONFIG ", " BeaconInterVal ", 1));
}

TEST_F(ProfileTest, CommentsOtherLinesAndLineEnds) {
    const std::string text =
        "\xEF\xBB\xBF; QM settings\r\n"
        "[CONFIG]\n"
        ";DebugLevel=9\r\n"
        "just some words\r\n"
        "RetryTimes=6\n"
        "DebugLevel=2";  // last line without an end
    EXPECT_EQ(2u, Read(text, "DebugLevel"));
    EXPECT_EQ(6u, Read(text, "RetryTimes"));
    // The first entry wins when a key is repeated.
    EXPECT_EQ(1u, Read("[CONFIG]\nDebugLevel=1\nDebugLevel=4\n", "DebugLevel"));
    // The byte-order mark does not hide a first-line section.
    EXPECT_EQ(8u, Read("\xEF\xBB\xBF[CONFIG]\nRetryTimes=8\n", "RetryTimes"));
}

}  // namespace
}  // namespace qm
