#include "platform/profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/common/test_support.h"

namespace qm::test {
namespace {

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

TEST_F(ProfileTest, ValuesOfTheConfigSection) {
    const std::string comments =
        "\xEF\xBB\xBF; QM settings\r\n[CONFIG]\n;DebugLevel=9\r\njust some words\r\n"
        "RetryTimes=6\nDebugLevel=2";  // last line without an end
    const struct {
        std::string text;
        const char* key;
        uint32_t value;  // the default is 77
    } cases[] = {
        // A missing section or key gives the default, even one in a later section.
        {"[OTHER]\r\nRetryTimes=9\r\n", "RetryTimes", 77},
        {"[CONFIG]\r\nRetryTimes=9\r\n", "BeaconInterVal", 77},
        {"", "BeaconTimeout", 77},
        {"[CONFIG]\n[LATER]\nDebugLevel=4\n", "DebugLevel", 77},
        // The value is its leading decimal number; without one it is 0.
        {"[CONFIG]\r\nDebugLevel=4\r\n", "DebugLevel", 4},
        {"[CONFIG]\r\nDebugLevel=abc\r\n", "DebugLevel", 0},
        {"[CONFIG]\r\nDebugLevel=12x\r\n", "DebugLevel", 12},
        {"[CONFIG]\r\nDebugLevel=0\r\n", "DebugLevel", 0},
        {"[CONFIG]\r\nDebugLevel=-1\r\n", "DebugLevel", 0},
        {"[CONFIG]\r\nDebugLevel=0x10\r\n", "DebugLevel", 0},
        {"[CONFIG]\r\nDebugLevel=007\r\n", "DebugLevel", 7},
        {"[CONFIG]\r\nDebugLevel=3 ; three\r\n", "DebugLevel", 3},
        {"[CONFIG]\r\nDebugLevel=\r\n", "DebugLevel", 77},  // no value: the default
        // Large numbers stop at the top of the range.
        {"[CONFIG]\nBeaconTimeout=4294967295\n", "BeaconTimeout", 4294967295u},
        {"[CONFIG]\nBeaconTimeout=4294967296\n", "BeaconTimeout", 4294967295u},
        {"[CONFIG]\nBeaconTimeout=99999999999999999999999999\n", "BeaconTimeout", 4294967295u},
        {"[CONFIG]\nBeaconTimeout=429496729\n", "BeaconTimeout", 429496729u},
        // Names ignore case and blanks.
        {"[config]\r\nretrytimes=9\r\n", "RetryTimes", 9},
        {"  [ CONFIG ]  \r\n\t BeaconInterVal \t=\t 250 \t\r\n", "BeaconInterVal", 250},
        // Comments and other lines are skipped; the first of a repeated key wins; the
        // byte-order mark does not hide a first-line section.
        {comments, "DebugLevel", 2},
        {comments, "RetryTimes", 6},
        {"[CONFIG]\nDebugLevel=1\nDebugLevel=4\n", "DebugLevel", 1},
        {"\xEF\xBB\xBF[CONFIG]\nRetryTimes=8\n", "RetryTimes", 8},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, Read(c.text, c.key)) << c.text;

    EXPECT_EQ(5u, ReadProfileInt(dir_ / "none.ini", "CONFIG", "RetryTimes", 5));
    ASSERT_TRUE(WriteBytes(Ini(), "  [ CONFIG ]  \r\n\t BeaconInterVal \t=\t 250 \t\r\n"));
    EXPECT_EQ(250u, ReadProfileInt(Ini(), " CoNfIg ", " BEACONINTERVAL ", 1));
}

// The text of a value, for a reader that must tell "0" from "abc": found by
// the same rules as the number, without the blanks around it.
TEST_F(ProfileTest, TextOfAValue) {
    const struct {
        std::string text;
        std::optional<std::string> value;
    } cases[] = {
        {"[CONFIG]\r\nRetryTimes= \t3 x \t\r\n", "3 x"},
        {"[config]\nretrytimes=abc\n", "abc"},
        {"[CONFIG]\nRetryTimes=\n", ""},
        {"[CONFIG]\nBeaconTimeout=1\n", std::nullopt},
        {"[OTHER]\nRetryTimes=1\n", std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteBytes(Ini(), c.text));
        EXPECT_EQ(ReadProfileText(Ini(), "CONFIG", "RetryTimes"), c.value) << c.text;
    }
    EXPECT_EQ(ReadProfileText(dir_ / "none.ini", "CONFIG", "RetryTimes"), std::nullopt);
}

TEST_F(ProfileTest, OnlyTheFirstMebibyteIsRead) {
    // Filler lines up to just before the bound, then one entry across it.
    std::string text = "[CONFIG]\n";
    while (text.size() < kProfileMaxBytes - 40) text += "; filler filler filler filler filler\n";
    const std::string inside = text + "DebugLevel=3\n";
    ASSERT_LE(inside.size(), kProfileMaxBytes);
    EXPECT_EQ(Read(inside, "DebugLevel"), 3u);
    EXPECT_EQ(Read(text + std::string(40, ';') + "\nDebugLevel=3\n", "DebugLevel"), 77u);
}

}  // namespace
}  // namespace qm::test
