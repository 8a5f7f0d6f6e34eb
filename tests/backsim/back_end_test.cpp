// The simulated back-end's side of the contract, driven without a manager:
// notices in, files and posted notices out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "tests/common/test_support.h"
#include "tools/backsim/back_end.h"
#include "tools/backsim/master_data.h"
#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr WindowHandle kManager = 4242;

struct Post {
    WindowHandle window;
    int64_t code;
    // What the announced file held at the moment of the post.
    std::string file;
};

class BacksimBackEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(home_.path().empty());
        WriteFile(Txt("users.txt"), "zhang 1234\nli 8888\n");
    }

    std::string Txt(const std::string& name) const { return home_ / ("TXT/" + name); }

    // The file a notice code announces, as the manager would read it.
    std::string Announced(int64_t code) const {
        if (code >= 1 && code <= 8) {
            return ReadFile(Txt("R" + std::to_string(code) + ".txt"));
        }
        if (code == 0) {
            return ReadFile(Txt("DX.txt"));
        }
        if (code == 10) {
            return ReadFile(Txt("DL.txt"));
        }
        return {};
    }

    BackEnd Make(ReplyTable table = ReplyTable()) {
        BackEnd::Hooks hooks;
        hooks.post = [this](WindowHandle window, int64_t code) {
            if (refusePosts_) {
                errno = ENOENT;
                return false;
            }
            posts_.push_back(Post{window, code, Announced(code)});
            return true;
        };
        hooks.setCloseEvent = [this] {
            ++closeSets_;
            return closeWaiter_;
        };
        hooks.trace = [this](std::string_view kind, std::string_view detail) {
            trace_.emplace_back(std::string(kind) + " " + std::string(detail));
        };
        return BackEnd(home_.path(), std::move(table), std::move(hooks));
    }

    // The back-end after the manager announced its window.
    BackEnd Ready() {
        BackEnd backEnd = Make();
        backEnd.OnNotice(kManager, 0);
        return backEnd;
    }

    bool Traced(const std::string& text) const {
        for (const std::string& line : trace_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    TempDir home_;
    std::vector<Post> posts_;
    std::vector<std::string> trace_;
    int closeSets_ = 0;
    bool closeWaiter_ = true;
    bool refusePosts_ = false;
};

TEST_F(BacksimBackEnd, FirstNoticeIsTheManagersWindow) {
    BackEnd backEnd = Make();
    EXPECT_FALSE(backEnd.ManagerKnown());
    backEnd.OnNotice(-5, 0);  // not a handle: still waiting
    EXPECT_FALSE(backEnd.ManagerKnown());
    backEnd.OnNotice(kManager, 0);
    EXPECT_TRUE(backEnd.ManagerKnown());
    EXPECT_EQ(backEnd.Manager(), kManager);
    EXPECT_TRUE(posts_.empty());
    EXPECT_TRUE(Traced("manager window 4242"));
}

TEST_F(BacksimBackEnd, ReplyFileIsCompleteBeforeItsNotice) {
    BackEnd backEnd = Ready();
    WriteFile(Txt("T3.txt"), "KT   007\r\n0012 04 00001 0000009 00000001\r\n");
    backEnd.OnNotice(3, 0);
    const std::string expected =
        "KT   007\r\n" + ToGbk("OK 桌号 0012 开台成功") + "\r\n" + ToGbk("人数 04") + "\r\n";
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].window, kManager);
    EXPECT_EQ(posts_[0].code, 3);
    EXPECT_EQ(posts_[0].file, expected);
    EXPECT_TRUE(Traced("request T3.txt  KT   007 | 0012 04 00001"));
    EXPECT_TRUE(Traced("reply R3.txt  KT   007 | OK 桌号 0012 开台成功 | 人数 04"));
}

TEST_F(BacksimBackEnd, RepliesFromTheFileTable) {
    ReplyTable table;
    table.Merge("DC|done {dcb}\n", nullptr);
    BackEnd backEnd = Make(std::move(table));
    backEnd.OnNotice(kManager, 0);
    WriteFile(Txt("T1.txt"), "DC   012\r\n");
    backEnd.OnNotice(1, 0);
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].file, "DC   012\r\ndone 012\r\n");
}

TEST_F(BacksimBackEnd, TerminalLogonCheckedAgainstUsers) {
    BackEnd backEnd = Ready();
    WriteFile(Txt("T2.txt"), "DL   009\r\nzhang      1234 00000001\r\n");
    backEnd.OnNotice(2, 0);
    WriteFile(Txt("T2.txt"), "DL   009\r\nzhang      9999 00000001\r\n");
    backEnd.OnNotice(2, 0);
    // users.txt is read at each logon: a change counts at once.
    WriteFile(Txt("users.txt"), "zhang 9999\n");
    backEnd.OnNotice(2, 0);
    ASSERT_EQ(posts_.size(), 3u);
    EXPECT_EQ(posts_[0].file, "DL   009\r\n1 zhang\r\n");
    EXPECT_EQ(posts_[1].file, "DL   009\r\n0 " + ToGbk("密码错误") + "\r\n");
    EXPECT_EQ(posts_[2].file, "DL   009\r\n1 zhang\r\n");
}

TEST_F(BacksimBackEnd, TerminalLogonWithoutUsersFileIsRefused) {
    ::unlink(Txt("users.txt").c_str());
    BackEnd backEnd = Ready();
    WriteFile(Txt("T1.txt"), "DL   009\r\nzhang      1234 00000001\r\n");
    backEnd.OnNotice(1, 0);
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].file, "DL   009\r\n0 " + ToGbk("无此用户") + "\r\n");
    EXPECT_TRUE(Traced("error users.txt cannot be read"));
}

TEST_F(BacksimBackEnd, UnknownRequestIsNotAnswered) {
    BackEnd backEnd = Ready();
    WriteFile(Txt("T1.txt"), "UNKN 007\r\n");
    backEnd.OnNotice(1, 0);
    EXPECT_TRUE(posts_.empty());
    EXPECT_FALSE(Exists(Txt("R1.txt")));
    EXPECT_TRUE(Traced("unknown T1.txt"));
}

TEST_F(BacksimBackEnd, MissingOrBadRequestFileIsAnErrorWithoutReply) {
    BackEnd backEnd = Ready();
    backEnd.OnNotice(4, 0);
    WriteFile(Txt("T5.txt"), "garbage\r\n");
    backEnd.OnNotice(5, 0);
    EXPECT_TRUE(posts_.empty());
    EXPECT_TRUE(Traced("error T4.txt cannot be read"));
    EXPECT_TRUE(Traced("error T5.txt has no valid header"));
}

TEST_F(BacksimBackEnd, MeaninglessNoticesAreOnlyTraced) {
    BackEnd backEnd = Ready();
    backEnd.OnNotice(0, 0);
    backEnd.OnNotice(9, 0);
    backEnd.OnNotice(12, 0);
    EXPECT_TRUE(posts_.empty());
    EXPECT_TRUE(Traced("host id 0 cannot be answered"));
    EXPECT_TRUE(Traced("notice 9 has no meaning"));
    EXPECT_TRUE(Traced("notice 12 has no meaning"));
}

TEST_F(BacksimBackEnd, OperatorLogonVerdictIsTheFirstLineOfDlTxt) {
    BackEnd backEnd = Ready();
    WriteFile(Txt("DL.txt"), "  li 8888\r\n");
    backEnd.OnNotice(10, 0);
    WriteFile(Txt("DL.txt"), "  li 1111\r\n");
    backEnd.OnNotice(10, 0);
    ASSERT_EQ(posts_.size(), 2u);
    EXPECT_EQ(posts_[0].code, 10);
    EXPECT_EQ(posts_[0].file, "1 li\r\n  li 8888\r\n");
    EXPECT_EQ(posts_[1].file, "0 " + ToGbk("密码错误") + "\r\n  li 1111\r\n");
}

TEST_F(BacksimBackEnd, OperatorLogonWithoutDlTxtGetsNoVerdict) {
    BackEnd backEnd = Ready();
    backEnd.OnNotice(10, 0);
    EXPECT_TRUE(posts_.empty());
    EXPECT_TRUE(Traced("error DL.txt cannot be read"));
}

TEST_F(BacksimBackEnd, DataRequestRefreshesTheElevenFiles) {
    BackEnd backEnd = Ready();
    // A file in other letter case is the same file to the manager.
    WriteFile(Txt("菜品表.txt"), "0001 dish\r\n");
    backEnd.OnNotice(11, 0);
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].code, 11);
    EXPECT_EQ(ReadFile(Txt("菜品表.txt")), "0001 dish\r\n");
    EXPECT_FALSE(Exists(Txt("菜品表.TXT")));
    for (size_t i = 1; i < kMasterDataFiles.size(); ++i) {
        EXPECT_TRUE(Exists(Txt(kMasterDataFiles[i]))) << kMasterDataFiles[i];
        EXPECT_EQ(ReadFile(Txt(kMasterDataFiles[i])), "");
    }
    EXPECT_TRUE(Traced("1 master-data files refreshed, 10 created empty, 0 failed"));
}

TEST_F(BacksimBackEnd, ShortMessageWritesDxTxtInGbk) {
    BackEnd backEnd = Ready();
    Command sms;
    sms.kind = Command::Kind::kSms;
    sms.number = 1;
    sms.dcbId = 12;
    sms.text = "欢迎 ok";
    EXPECT_TRUE(backEnd.Execute(sms));
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].code, 0);
    EXPECT_EQ(posts_[0].file, "001 012 " + ToGbk("欢迎 ok") + "\r\n");
    EXPECT_TRUE(Traced("sms DX.txt  001 012 欢迎 ok"));
}

TEST_F(BacksimBackEnd, CommandsNeedTheManagersWindow) {
    BackEnd backEnd = Make();
    Command sms;
    sms.kind = Command::Kind::kSms;
    sms.text = "x";
    EXPECT_FALSE(backEnd.Execute(sms));
    Command open;
    open.kind = Command::Kind::kOpen;
    EXPECT_FALSE(backEnd.Execute(open));
    EXPECT_TRUE(posts_.empty());
    EXPECT_FALSE(Exists(Txt("DX.txt")));
}

TEST_F(BacksimBackEnd, OpenNoticeAndClose) {
    BackEnd backEnd = Ready();
    Command open;
    open.kind = Command::Kind::kOpen;
    Command notice;
    notice.kind = Command::Kind::kNotice;
    notice.number = 77;
    Command close;
    close.kind = Command::Kind::kClose;
    EXPECT_TRUE(backEnd.Execute(open));
    EXPECT_TRUE(backEnd.Execute(notice));
    EXPECT_TRUE(backEnd.Execute(close));
    closeWaiter_ = false;
    EXPECT_FALSE(backEnd.Execute(close));
    ASSERT_EQ(posts_.size(), 2u);
    EXPECT_EQ(posts_[0].code, 12);
    EXPECT_EQ(posts_[1].code, 77);
    EXPECT_EQ(closeSets_, 2);
    EXPECT_TRUE(Traced("nobody waits"));
}

TEST_F(BacksimBackEnd, FailedPostIsReported) {
    BackEnd backEnd = Ready();
    refusePosts_ = true;
    Command open;
    open.kind = Command::Kind::kOpen;
    EXPECT_FALSE(backEnd.Execute(open));
    EXPECT_TRUE(Traced("error notice 12 to window 4242 failed"));
}

TEST_F(BacksimBackEnd, HeldRequestsAreNotAnswered) {
    BackEnd backEnd = Ready();
    Command hold;
    hold.kind = Command::Kind::kHoldReplies;
    hold.on = true;
    backEnd.Execute(hold);
    WriteFile(Txt("T1.txt"), "GT   001\r\n");
    backEnd.OnNotice(1, 0);
    EXPECT_TRUE(posts_.empty());
    EXPECT_FALSE(Exists(Txt("R1.txt")));
    EXPECT_FALSE(backEnd.NextDueMs());
    hold.on = false;
    backEnd.Execute(hold);
    backEnd.OnNotice(1, 0);
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].code, 1);
}

TEST_F(BacksimBackEnd, DelayedRepliesGoOutWhenDue) {
    BackEnd backEnd = Ready();
    Command delay;
    delay.kind = Command::Kind::kReplyDelay;
    delay.number = 800;
    backEnd.Execute(delay);
    WriteFile(Txt("T1.txt"), "GT   001\r\n");
    backEnd.OnNotice(1, 1000);
    WriteFile(Txt("T2.txt"), "TC   002\r\n");
    backEnd.OnNotice(2, 1100);
    EXPECT_FALSE(Exists(Txt("R1.txt")));
    EXPECT_TRUE(Traced("delay R1.txt in 800 ms"));
    ASSERT_TRUE(backEnd.NextDueMs());
    EXPECT_EQ(*backEnd.NextDueMs(), 1800);
    backEnd.RunDue(1799);
    EXPECT_TRUE(posts_.empty());
    backEnd.RunDue(1800);
    ASSERT_EQ(posts_.size(), 1u);
    EXPECT_EQ(posts_[0].code, 1);
    EXPECT_EQ(*backEnd.NextDueMs(), 1900);
    backEnd.RunDue(5000);
    ASSERT_EQ(posts_.size(), 2u);
    EXPECT_EQ(posts_[1].code, 2);
    EXPECT_EQ(posts_[1].file.substr(0, 10), "TC   002\r\n");
    EXPECT_FALSE(backEnd.NextDueMs());
}

TEST_F(BacksimBackEnd, StaleReplyAnswersTheOlderRequest) {
    BackEnd backEnd = Ready();
    Command stale;
    stale.kind = Command::Kind::kStaleReply;
    stale.number = 1;
    WriteFile(Txt("T1.txt"), "GT   001\r\n");
    backEnd.OnNotice(1, 0);
    EXPECT_FALSE(backEnd.Execute(stale)) << "only one request so far";
    WriteFile(Txt("T1.txt"), "TC   002\r\n");
    backEnd.OnNotice(1, 0);
    EXPECT_TRUE(backEnd.Execute(stale));
    ASSERT_EQ(posts_.size(), 3u);
    EXPECT_EQ(posts_[1].file.substr(0, 10), "TC   002\r\n");
    EXPECT_EQ(posts_[2].code, 1);
    EXPECT_EQ(posts_[2].file.substr(0, 10), "GT   001\r\n");
    EXPECT_TRUE(Traced("stale R1.txt  GT   001"));
    // Another station's history is its own.
    stale.number = 2;
    EXPECT_FALSE(backEnd.Execute(stale));
}

}  // namespace
}  // namespace qm::backsim
