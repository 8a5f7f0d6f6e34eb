// GBK handling and the readable trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/backsim/text.h"
#include "tools/backsim/trace.h"

namespace qm::backsim {
namespace {

TEST(BacksimText, Utf8BecomesGbkAndGbkStays) {
    EXPECT_EQ(ToGbk("你好"), "\xc4\xe3\xba\xc3");
    EXPECT_EQ(ToGbk("plain"), "plain");
    // Not UTF-8: already GBK, taken as it is.
    EXPECT_EQ(ToGbk("\xc4\xe3\xba\xc3"), "\xc4\xe3\xba\xc3");
}

TEST(BacksimText, GbkShownAsUtf8WithBadBytesMarked) {
    EXPECT_EQ(GbkForDisplay("\xc4\xe3\xba\xc3 ok"), "你好 ok");
    EXPECT_EQ(GbkForDisplay("a\xffz"), "a?z");
    EXPECT_EQ(GbkForDisplay("\xc4\x0a\xc4\xe3"), "?.你");
    EXPECT_EQ(GbkForDisplay("cut\xc4"), "cut?");
    EXPECT_EQ(GbkForDisplay("tab\there\r\n"), "tab.here..");
    EXPECT_EQ(GbkForDisplay("\xff\xc4\xe3"), "?你");
}

TEST(BacksimText, SplitsLinesWithEitherEnd) {
    EXPECT_TRUE(SplitLines("").empty());
    EXPECT_EQ(SplitLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(SplitLines("\n"), std::vector<std::string>{""});
}

TEST(BacksimText, WordsAndBlanks) {
    EXPECT_EQ(TrimBlanks(" \t x y \t"), "x y");
    EXPECT_EQ(TrimBlanks("   "), "");
    std::string_view rest = "  one\ttwo  ";
    EXPECT_EQ(NextWord(rest), "one");
    EXPECT_EQ(NextWord(rest), "two");
    EXPECT_EQ(NextWord(rest), "");
    EXPECT_EQ(SplitWords(" a  bb c "), (std::vector<std::string_view>{"a", "bb", "c"}));
}

TEST(BacksimText, FindsAsciiOnlyOutsideDoubleByteCharacters) {
    EXPECT_EQ(FindInGbk("ab|c", '|'), 2u);
    EXPECT_EQ(FindInGbk("\x83\x7c|", '|'), 2u);
    EXPECT_EQ(FindInGbk("\x83\x7c", '|'), std::string_view::npos);
    EXPECT_EQ(FindInGbk("a|b|", '|', 2), 3u);
    // A lead byte at the very end has no partner; it is a byte like others.
    EXPECT_EQ(FindInGbk("x\x83", '|'), std::string_view::npos);
}

TEST(BacksimTrace, TimeKindAndDetail) {
    EXPECT_EQ(FormatTraceLine(1234, "request", "T1.txt"), "+1.234 request T1.txt");
    EXPECT_EQ(FormatTraceLine(5, "reply", "x"), "+0.005 reply   x");
    EXPECT_EQ(FormatTraceLine(61000, "sms", "y"), "+61.000 sms     y");
    EXPECT_EQ(FormatTraceLine(-3, "a", "b"), "+0.000 a       b");
}

TEST(BacksimTrace, ExchangeShowsFileHeaderAndLines) {
    EXPECT_EQ(DescribeExchange("T1.txt", "KT   001", {"0001 02", "\xc4\xe3"}),
              "T1.txt  KT   001 | 0001 02 | 你");
    EXPECT_EQ(DescribeExchange("R1.txt", "GT   003", {}), "R1.txt  GT   003");
}

}  // namespace
}  // namespace qm::backsim
