#include "platform/gbk.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::test {
namespace {

// Chinese takes two bytes a character; ASCII is unchanged.
TEST(GbkTest, ConvertsAndCounts) {
    const struct {
        std::string utf8, gbk;
    } cases[] = {{"用户", "\xD3\xC3\xBB\xA7"},
                 {"Admin 01\r\n", "Admin 01\r\n"},
                 {"ab用户", "ab\xD3\xC3\xBB\xA7"},
                 {"", ""}};
    for (const auto& c : cases) {
        std::string gbk;
        ASSERT_TRUE(Utf8ToGbk(c.utf8, &gbk))
            << "no GBK converter: glibc's gconv modules (package libc6) are missing";
        EXPECT_EQ(c.gbk, gbk);
        EXPECT_EQ(c.gbk.size(), GbkByteCount(c.utf8)) << c.utf8;
    }
    EXPECT_EQ(6u, GbkByteCount("点菜机"));
}

TEST(GbkTest, LongTextConvertsWhole) {
    std::string utf8;
    for (int i = 0; i < 5000; ++i) utf8 += "菜a";
    std::string gbk;
    ASSERT_TRUE(Utf8ToGbk(utf8, &gbk));
    EXPECT_EQ(15000u, gbk.size());
}

TEST(GbkTest, TextWithoutGbkFormIsRefused) {
    std::string gbk = "untouched";
    EXPECT_FALSE(Utf8ToGbk("ok\xF0\x9F\x98\x80", &gbk));  // an emoji: not in GBK
    EXPECT_FALSE(Utf8ToGbk("\xE7\x94", &gbk));            // cut-off character
    EXPECT_FALSE(Utf8ToGbk("\xFF\xFE", &gbk));            // not UTF-8
    EXPECT_EQ("untouched", gbk);
    EXPECT_EQ(kNotGbk, GbkByteCount("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(Utf8ToGbk("a", nullptr));
}

}  // namespace
}  // namespace qm::test
