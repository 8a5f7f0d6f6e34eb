#include "platform/gbk.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TEST(GbkTest, ChineseTakesTwoBytesACharacter) {
    std::string gbk;
    ASSERT_TRUE(Utf8ToGbk("用户", &gbk))
        << "no GBK converter: glibc's gconv modules (package libc6) are missing";
    EXPECT_EQ(std::string("\xD3\xC3\xBB\xA7"), gbk);
    EXPECT_EQ(4u, GbkByteCount("用户"));
    EXPECT_EQ(6u, GbkByteCount("点菜机"));
}

TEST(GbkTest, AsciiIsUnchanged) {
    std::string gbk;
    ASSERT_TRUE(Utf8ToGbk("Admin 01\r\n", &gbk));
    EXPECT_EQ("Admin 01\r\n", gbk);
    EXPECT_EQ(10u, GbkByteCount("Admin 01\r\n"));
    EXPECT_EQ(6u, GbkByteCount("ab用户"));
    EXPECT_TRUE(Utf8ToGbk("", &gbk));
    EXPECT_EQ("", gbk);
    EXPECT_EQ(0u, GbkByteCount(""));
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
}  // namespace qm
