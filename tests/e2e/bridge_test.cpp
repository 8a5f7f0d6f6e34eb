// Requests and replies through the real manager.
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

TEST_F(EndToEnd, ARequestBecomesARequestFileAndTheReplyReachesTheTerminal) {
    StartManager();
    devsim::Terminal& t7 = Term("COM3", 7);
    const std::string record = "00120400004000000120000001";  // 26 bytes of code 13
    t7.QueueRequest(13, Text(record));
    auto notice = NextNotice(5000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(*notice, 1);
    EXPECT_EQ(ReadFile(Txt("T1.txt")), "KT   007\r\n0012 04 00004 0000001 20000001\r\n");

    WriteFile(Txt("R1.txt"), "KT   007\r\nOK TABLE 12\r\n");
    ASSERT_TRUE(Notify(1));
    ASSERT_TRUE(sim_->WaitFor([&] { return !t7.Replies().empty(); }, 5000));
    const devsim::Reply reply = t7.Replies()[0];
    EXPECT_EQ(reply.command, 13);
    std::string want = "OK TABLE 12";
    want.resize(20, ' ');
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), want);
    EXPECT_TRUE(Exists(Txt("R1.txt"))) << "the reply file stays";
}

TEST_F(EndToEnd, AnEmptyReplySendsOneBlankSlot) {
    StartManager();
    devsim::Terminal& t12 = Term("COM4", 12);
    t12.QueueRequest(26, Text("00000120000001"));
    ASSERT_EQ(NextNotice(5000), 2);
    WriteFile(Txt("R2.txt"), "zdcx 012\r\n\r\n");
    ASSERT_TRUE(Notify(2));
    ASSERT_TRUE(sim_->WaitFor([&] { return !t12.Replies().empty(); }, 5000));
    EXPECT_EQ(t12.Replies()[0].data, Bytes(20, ' '));
    EXPECT_EQ(t12.Replies()[0].command, 26);
}

TEST_F(EndToEnd, AShortMessageFromTheBackEndReachesItsTerminal) {
    StartManager();
    WriteFile(Txt("DX.txt"), "004 008 TABLE 5 READY\r\n");
    ASSERT_TRUE(Notify(0));
    devsim::Terminal& t8 = Term("COM3", 8);
    ASSERT_TRUE(sim_->WaitFor([&] { return !t8.ShortMessages().empty(); }, 5000));
    EXPECT_EQ(t8.ShortMessages()[0].payload, Text("004TABLE 5 READY"));
    EXPECT_FALSE(Exists(Txt("DX.txt")));
}

}  // namespace
}  // namespace qm::test
