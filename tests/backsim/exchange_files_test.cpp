// The file formats between the simulated back-end and the manager: request
// files as the manager writes them, reply files, DX.txt, and the logons.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/backsim/logon.h"
#include "tools/backsim/reply_file.h"
#include "tools/backsim/request_file.h"
#include "tools/backsim/short_message_file.h"
#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

TEST(BacksimRequestFile, ReadsHeaderAndBodyLines) {
    const auto request =
        ParseRequestFile("KT   007\r\n0012 04 00001 0000009 00000001\r\nsecond\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->code, "KT  ");
    EXPECT_EQ(request->dcbId, 7);
    EXPECT_EQ(request->lines,
              (std::vector<std::string>{"0012 04 00001 0000009 00000001", "second"}));
}

TEST(BacksimRequestFile, HeaderOnlyAndUnknownCode) {
    const auto request = ParseRequestFile("UNKN 255\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->code, kUnknownCode);
    EXPECT_EQ(request->dcbId, 255);
    EXPECT_TRUE(request->lines.empty());
}

TEST(BacksimRequestFile, TakesLfOnlyLinesAndKeepsGbkBytes) {
    const std::string gbk = "\xc4\xe3\xba\xc3";  // two double-byte characters
    const auto request = ParseRequestFile("DC   012\n" + gbk + "\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->dcbId, 12);
    EXPECT_EQ(request->lines, std::vector<std::string>{gbk});
}

TEST(BacksimRequestFile, RefusesBadHeaders) {
    EXPECT_FALSE(ParseRequestFile(""));
    EXPECT_FALSE(ParseRequestFile("KT  007\r\n"));   // blank missing
    EXPECT_FALSE(ParseRequestFile("KT   0x7\r\n"));  // not digits
    EXPECT_FALSE(ParseRequestFile("KT   256\r\n"));  // beyond a byte
    EXPECT_FALSE(ParseRequestFile("KT   07\r\n"));   // cut short
    EXPECT_FALSE(ParseRequestFile("\r\nKT   007\r\n"));
}

TEST(BacksimRequestFile, NormalisesCodeNames) {
    EXPECT_EQ(NormaliseCodeName("kt"), "KT  ");
    EXPECT_EQ(NormaliseCodeName("KT  "), "KT  ");
    EXPECT_EQ(NormaliseCodeName("zdcx"), "ZDCX");
    EXPECT_EQ(NormaliseCodeName("Lsc"), "LSC ");
    EXPECT_EQ(NormaliseCodeName(""), "");
    EXPECT_EQ(NormaliseCodeName("   "), "");
    EXPECT_EQ(NormaliseCodeName("TOOLONG"), "");
}

TEST(BacksimReplyFile, HeaderRepeatsCodeAndDcbThenLinesWithCrLf) {
    EXPECT_EQ(FormatReplyFile("KT  ", 7, {"OK 1", "two"}), "KT   007\r\nOK 1\r\ntwo\r\n");
    EXPECT_EQ(FormatReplyFile("DL", 12, {}), "DL   012\r\n");
    EXPECT_EQ(ReplyHeader("ZDCX", 255), "ZDCX 255");
    EXPECT_EQ(ReplyHeader("TOOLONG", 0), "TOOL 000");
}

TEST(BacksimReplyFile, LineEndsInsideALineBecomeBlanks) {
    EXPECT_EQ(FormatReplyFile("GT  ", 1, {"a\r\nb"}), "GT   001\r\na  b\r\n");
}

TEST(BacksimReplyFile, CountsTheManagersTwentyByteSlots) {
    EXPECT_EQ(ReplySlots({}), 0u);
    EXPECT_EQ(ReplySlots({""}), 0u);
    EXPECT_EQ(ReplySlots({"abc", std::string(25, 'x')}), 3u);
    EXPECT_EQ(ReplySlots({std::string(20, 'x'), std::string(21, 'x')}), 3u);
    // Read in 259-byte pieces: 259 = 13 slots, the last byte one more.
    EXPECT_EQ(ReplySlots({std::string(260, 'x')}), 14u);
}

TEST(BacksimShortMessageFile, ThreeDigitNumbersThenText) {
    EXPECT_EQ(FormatShortMessage(1, 12, "ok"), "001 012 ok\r\n");
    EXPECT_EQ(FormatShortMessage(255, 0, ""), "255 000 \r\n");
    EXPECT_EQ(FormatShortMessage(3, 4, "\xc4\xe3"), "003 004 \xc4\xe3\r\n");
}

TEST(BacksimShortMessageFile, RefusesWhatTheManagerCannotRead) {
    EXPECT_FALSE(FormatShortMessage(256, 1, "x"));
    EXPECT_FALSE(FormatShortMessage(1, 256, "x"));
    EXPECT_FALSE(FormatShortMessage(-1, 1, "x"));
    EXPECT_FALSE(FormatShortMessage(1, 1, "two\r\nlines"));
}

TEST(BacksimUsers, ParsesNamesAndPasswords) {
    const auto users = ParseUsers("# staff\r\nzhang 1234\r\n\r\n  li\t8888  \nwang\n");
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].name, "zhang");
    EXPECT_EQ(users[0].password, "1234");
    EXPECT_EQ(users[1].name, "li");
    EXPECT_EQ(users[1].password, "8888");
    EXPECT_EQ(users[2].name, "wang");
    EXPECT_EQ(users[2].password, "");
}

TEST(BacksimUsers, VerdictNamesTheUserOrTheReason) {
    const auto users = ParseUsers("zhang 1234\nwang\n");
    const Verdict ok = CheckLogon(users, {"zhang", "1234"});
    EXPECT_TRUE(ok.accepted);
    EXPECT_EQ(ok.line, "1 zhang");
    const Verdict wrong = CheckLogon(users, {"zhang", "1235"});
    EXPECT_FALSE(wrong.accepted);
    EXPECT_EQ(wrong.line, "0 " + ToGbk("密码错误"));
    const Verdict stranger = CheckLogon(users, {"zhao", "1234"});
    EXPECT_FALSE(stranger.accepted);
    EXPECT_EQ(stranger.line, "0 " + ToGbk("无此用户"));
    EXPECT_TRUE(CheckLogon(users, {"wang", ""}).accepted);
    EXPECT_FALSE(CheckLogon({}, {"", ""}).accepted);
}

TEST(BacksimLogon, TerminalFieldsAreCutAtTheirPlaces) {
    // user 10, blank, password 4, blank, 8 of the terminal's own
    const Credentials full = ParseTerminalLogon("zhang      1234 00000001");
    EXPECT_EQ(full.name, "zhang");
    EXPECT_EQ(full.password, "1234");
    const Credentials padded = ParseTerminalLogon("     zhang   12 00000001");
    EXPECT_EQ(padded.name, "zhang");
    EXPECT_EQ(padded.password, "12");
    const Credentials cut = ParseTerminalLogon("zhang     ");
    EXPECT_EQ(cut.name, "zhang");
    EXPECT_EQ(cut.password, "");
    EXPECT_EQ(ParseTerminalLogon("").name, "");
}

TEST(BacksimLogon, OperatorLineAsTheDialogWritesIt) {
    const auto li = ParseOperatorLogon("  li 8888\r\n");
    ASSERT_TRUE(li);
    EXPECT_EQ(li->name, "li");
    EXPECT_EQ(li->password, "8888");
    const auto shortPassword = ParseOperatorLogon("zhao    7\r\n");
    ASSERT_TRUE(shortPassword);
    EXPECT_EQ(shortPassword->name, "zhao");
    EXPECT_EQ(shortPassword->password, "7");
    const auto longPassword = ParseOperatorLogon("   a 12345678\r\n");
    ASSERT_TRUE(longPassword);
    EXPECT_EQ(longPassword->password, "12345678");
    const auto empty = ParseOperatorLogon("         \r\n");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->name, "");
    EXPECT_EQ(empty->password, "");
    EXPECT_FALSE(ParseOperatorLogon(""));
    EXPECT_FALSE(ParseOperatorLogon("li\r\n"));
}

TEST(BacksimLogon, VerdictGoesFirstAndTheDialogsLineStays) {
    EXPECT_EQ(OperatorVerdictFile(Verdict{true, "1 li"}, "  li 8888\r\n"), "1 li\r\n  li 8888\r\n");
    EXPECT_EQ(OperatorVerdictFile(Verdict{false, "0 x"}, "  li 8888"), "0 x\r\n  li 8888\r\n");
}

}  // namespace
}  // namespace qm::backsim
