// What the simulated back-end answers: built-in replies, replies.txt, and
// the placeholders that let an answer name what was asked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/backsim/reply_file.h"
#include "tools/backsim/reply_table.h"
#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

RequestFile Request(const std::string& code, uint8_t dcb, std::vector<std::string> lines) {
    return RequestFile{code, dcb, std::move(lines)};
}

TEST(BacksimReplyTable, OpenTableNamesTheTable) {
    const ReplyTable table;
    const auto lines = table.Answer(Request("KT  ", 7, {"0012 04 00001 0000009 00000001"}));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ToGbk("OK 桌号 0012 开台成功"));
    EXPECT_EQ(lines[1], ToGbk("人数 04"));
}

TEST(BacksimReplyTable, BillRunsOverSeveralSlotsWithAWideTotal) {
    const ReplyTable table;
    const auto lines = table.Answer(Request("ZDCX", 7, {"0012 0000009"}));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), ToGbk("桌号 0012 账单"));
    EXPECT_GT(lines.back().size(), 20u) << "the total needs more than one 20-byte slot";
    EXPECT_GT(ReplySlots(lines), lines.size());
}

TEST(BacksimReplyTable, UnknownCodesGetOk) {
    const ReplyTable table;
    EXPECT_EQ(table.Answer(Request("QQQQ", 1, {})), std::vector<std::string>{"OK"});
}

TEST(BacksimReplyTable, FileOverridesPerCodeIgnoringCaseAndPadding) {
    ReplyTable table;
    std::vector<std::string> problems;
    table.Merge("# replies\r\nkt|OK 桌 {1}|第二行\r\n\r\nGT  |\r\n*|fine\r\n", &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(table.Answer(Request("KT  ", 7, {"0012 04"})),
              (std::vector<std::string>{ToGbk("OK 桌 0012"), ToGbk("第二行")}));
    EXPECT_TRUE(table.Answer(Request("GT  ", 7, {})).empty());
    EXPECT_EQ(table.Answer(Request("QQQQ", 7, {})), std::vector<std::string>{"fine"});
    // Codes without an entry of their own in the file keep the built-in one.
    EXPECT_EQ(table.Answer(Request("TC  ", 7, {})), std::vector<std::string>{ToGbk("OK 退菜成功")});
}

TEST(BacksimReplyTable, ReportsBadLinesByNumber) {
    ReplyTable table;
    std::vector<std::string> problems;
    table.Merge("KT|ok\nno bar here\nTOOLONG|x\n|empty name\n", &problems);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].rfind("line 2:", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("line 3:", 0), 0u) << problems[1];
    EXPECT_EQ(problems[2].rfind("line 4:", 0), 0u) << problems[2];
    EXPECT_EQ(table.Answer(Request("KT  ", 1, {})), std::vector<std::string>{"ok"});
}

TEST(BacksimReplyTable, GbkFileSplitsOnlyOnRealBars) {
    // 億 is 0x83 0x7C in GBK: its second byte is '|'. The file below is not
    // UTF-8, so it is taken as GBK as it stands.
    ReplyTable table;
    std::vector<std::string> problems;
    table.Merge("KT|\x83\x7c yuan|next\r\n", &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(table.Answer(Request("KT  ", 1, {})),
              (std::vector<std::string>{"\x83\x7c yuan", "next"}));
}

TEST(BacksimPlaceholders, FillDcbAndWordsOfTheFirstLine) {
    const RequestFile request = Request("HT  ", 9, {"0012   0015 x", "ignored"});
    EXPECT_EQ(ExpandPlaceholders("{1}->{2} {3} [{4}] {dcb}", request), "0012->0015 x [] 009");
    EXPECT_EQ(ExpandPlaceholders("{0} {x} {10} {", request), "{0} {x} {10} {");
    EXPECT_EQ(ExpandPlaceholders("{1}", Request("HT  ", 9, {})), "");
}

TEST(BacksimPlaceholders, DoubleByteCharactersAreNotTakenApart) {
    // 亄 is 0x81 0x7B: its second byte is '{'. "\x81{1}" must stay as it is:
    // the brace belongs to the character.
    const RequestFile request = Request("KT  ", 1, {"A"});
    EXPECT_EQ(ExpandPlaceholders("\x81{1}", request), "\x81{1}");
    EXPECT_EQ(ExpandPlaceholders("\x81{ {1}", request), "\x81{ A");
}

}  // namespace
}  // namespace qm::backsim
