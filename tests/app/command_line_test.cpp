// The back-end's window handle on the command line.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(ParseWindowHandle, DigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(qm::ParseWindowHandle("123"), 123u);
    EXPECT_EQ(qm::ParseWindowHandle("  42abc"), 42u);
    EXPECT_EQ(qm::ParseWindowHandle("\t7"), 7u);
    EXPECT_EQ(qm::ParseWindowHandle("007"), 7u);
    EXPECT_EQ(qm::ParseWindowHandle("2147483647"), 2147483647u);
}

TEST(ParseWindowHandle, NoNumberIsZero) {
    EXPECT_EQ(qm::ParseWindowHandle("abc"), 0u);
    EXPECT_EQ(qm::ParseWindowHandle(""), 0u);
    EXPECT_EQ(qm::ParseWindowHandle(nullptr), 0u);
    EXPECT_EQ(qm::ParseWindowHandle("-5"), 0u);
    EXPECT_EQ(qm::ParseWindowHandle("  "), 0u);
}

TEST(ParseWindowHandle, NumberBeyondAnyHandleIsZero) {
    EXPECT_EQ(qm::ParseWindowHandle("2147483648"), 0u);
    EXPECT_EQ(qm::ParseWindowHandle("4294967297"), 0u);  // would wrap to 1 in 32 bits
    EXPECT_EQ(qm::ParseWindowHandle("99999999999999999999999"), 0u);
}

}  // namespace
}  // namespace qm::test
