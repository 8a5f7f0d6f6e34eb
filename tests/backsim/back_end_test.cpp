// The simulated back-end's faults on demand, driven without a manager:
// replies held back, delayed and stale.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/test_support.h"
#include "tools/backsim/back_end.h"

namespace qm::test {
namespace {

using backsim::BackEnd;
using backsim::Command;
using backsim::ReplyTable;

constexpr WindowHandle kManager = 4242;

struct Post {
    int64_t code;
    // What the announced file held at the moment of the post.
    std::string file;
};

class BacksimBackEnd : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(home_.path().empty()); }

    std::string Txt(const std::string& name) const { return home_ / ("TXT/" + name); }

    // The back-end after the manager announced its window.
    BackEnd Ready() {
        BackEnd::Hooks hooks;
        hooks.post = [this](WindowHandle window, int64_t code) {
            // The reply file a host id announces, as the manager would read it.
            EXPECT_EQ(window, kManager);
            posts_.push_back(Post{code, ReadFile(Txt("R" + std::to_string(code) + ".txt"))});
            return true;
        };
        hooks.setCloseEvent = [] { return true; };
        hooks.trace = [this](std::string_view kind, std::string_view detail) {
            trace_.emplace_back(std::string(kind) + " " + std::string(detail));
        };
        BackEnd backEnd(home_.path(), ReplyTable(), std::move(hooks));
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
};

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
}  // namespace qm::test
