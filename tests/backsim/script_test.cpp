// Commands, scripts, command input and the command line of qm-backsim.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/backsim/command.h"
#include "tools/backsim/line_reader.h"
#include "tools/backsim/options.h"
#include "tools/backsim/script.h"

namespace qm::backsim {
namespace {

Command Parse(const std::string& line) {
    std::string error;
    const auto command = ParseCommand(line, &error);
    EXPECT_TRUE(command) << line << ": " << error;
    return command.value_or(Command{});
}

bool Refused(const std::string& line) {
    std::string error;
    const bool refused = !ParseCommand(line, &error);
    EXPECT_TRUE(!refused || !error.empty()) << line;
    return refused;
}

TEST(BacksimCommands, SmsKeepsTheTextAsTyped) {
    const Command sms = Parse("sms 1 12 table 5  is  ready ");
    EXPECT_EQ(sms.kind, Command::Kind::kSms);
    EXPECT_EQ(sms.number, 1);
    EXPECT_EQ(sms.dcbId, 12);
    EXPECT_EQ(sms.text, "table 5  is  ready");
    EXPECT_EQ(Parse("  sms 255 0 欢迎").text, "欢迎");
    EXPECT_EQ(Parse("sms 2 3").text, "");
    EXPECT_TRUE(Refused("sms 256 1 x"));
    EXPECT_TRUE(Refused("sms 1 -1 x"));
    EXPECT_TRUE(Refused("sms one 1 x"));
    EXPECT_TRUE(Refused("sms 1"));
}

TEST(BacksimCommands, SimpleAndNumericCommands) {
    EXPECT_EQ(Parse("open").kind, Command::Kind::kOpen);
    EXPECT_EQ(Parse("close").kind, Command::Kind::kClose);
    EXPECT_EQ(Parse("quit").kind, Command::Kind::kQuit);
    const Command notice = Parse("notice -3");
    EXPECT_EQ(notice.kind, Command::Kind::kNotice);
    EXPECT_EQ(notice.number, -3);
    EXPECT_EQ(Parse("notice 200").number, 200);
    const Command hold = Parse("hold-replies on");
    EXPECT_EQ(hold.kind, Command::Kind::kHoldReplies);
    EXPECT_TRUE(hold.on);
    EXPECT_FALSE(Parse("hold-replies off").on);
    const Command delay = Parse("reply-delay 800");
    EXPECT_EQ(delay.kind, Command::Kind::kReplyDelay);
    EXPECT_EQ(delay.number, 800);
    const Command stale = Parse("stale-reply 8");
    EXPECT_EQ(stale.kind, Command::Kind::kStaleReply);
    EXPECT_EQ(stale.number, 8);
}

TEST(BacksimCommands, RefusesWrongArguments) {
    EXPECT_TRUE(Refused(""));
    EXPECT_TRUE(Refused("dance"));
    EXPECT_TRUE(Refused("open now"));
    EXPECT_TRUE(Refused("quit 1"));
    EXPECT_TRUE(Refused("notice"));
    EXPECT_TRUE(Refused("notice 1 2"));
    EXPECT_TRUE(Refused("notice 12x"));
    EXPECT_TRUE(Refused("hold-replies maybe"));
    EXPECT_TRUE(Refused("reply-delay -1"));
    EXPECT_TRUE(Refused("reply-delay +5"));
    EXPECT_TRUE(Refused("reply-delay 99999999999"));
    EXPECT_TRUE(Refused("stale-reply 0"));
    EXPECT_TRUE(Refused("stale-reply 9"));
}

TEST(BacksimScripts, StepsInTimeOrderAndEndLastOfItsTime) {
    std::string error;
    const auto script = ParseScript(
        "# demo\n"
        "end 500\n"
        "at 500 open\n"
        "\n"
        "at 100 sms 1 12 hi\r\n"
        "   at 100 notice 12\n"
        "at 0 hold-replies on\n",
        &error);
    ASSERT_TRUE(script) << error;
    ASSERT_EQ(script->steps.size(), 5u);
    const std::vector<int64_t> times = {0, 100, 100, 500, 500};
    const std::vector<Command::Kind> kinds = {Command::Kind::kHoldReplies, Command::Kind::kSms,
                                              Command::Kind::kNotice, Command::Kind::kOpen,
                                              Command::Kind::kQuit};
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(script->steps[i].atMs, times[i]) << i;
        EXPECT_EQ(script->steps[i].command.kind, kinds[i]) << i;
    }
    EXPECT_EQ(script->steps[1].command.text, "hi");
    EXPECT_EQ(script->steps[1].line, 5);
    EXPECT_EQ(script->steps[4].line, 2);
}

TEST(BacksimScripts, NamesTheFirstBadLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"at 0 open\nat x open\n", "line 2:"},
        {"at 0 open\nat 10 dance\n", "line 2:"},
        {"open\n", "line 1:"},
        {"end 5\nend 6\n", "line 2:"},
        {"end 5 now\n", "line 1:"},
        {"at -1 open\n", "line 1:"},
        {"at 999999999999 open\n", "line 1:"},
    };
    for (const auto& [text, where] : cases) {
        std::string error;
        EXPECT_FALSE(ParseScript(text, &error)) << text;
        EXPECT_EQ(error.rfind(where, 0), 0u) << text << " -> " << error;
    }
}

TEST(BacksimScripts, EmptyScriptHasNoSteps) {
    std::string error;
    const auto script = ParseScript("# nothing\n\n", &error);
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->steps.empty());
}

TEST(BacksimLineReader, CutsLinesAcrossChunks) {
    LineReader reader;
    EXPECT_TRUE(reader.Feed("sm").empty());
    EXPECT_EQ(reader.Feed("s 1 2 x\r\nop"), std::vector<std::string>{"sms 1 2 x"});
    EXPECT_EQ(reader.Feed("en\n\nquit"), (std::vector<std::string>{"open", ""}));
    EXPECT_EQ(reader.Finish(), std::vector<std::string>{"quit"});
    EXPECT_TRUE(reader.Finish().empty());
}

TEST(BacksimLineReader, DropsOverlongLinesWhole) {
    LineReader reader;
    size_t dropped = 0;
    EXPECT_TRUE(reader.Feed(std::string(LineReader::kMaxLine, 'x'), &dropped).empty());
    EXPECT_EQ(dropped, 0u);
    EXPECT_TRUE(reader.Feed("yy", &dropped).empty());
    EXPECT_EQ(dropped, 1u);
    EXPECT_TRUE(reader.Feed(std::string(10000, 'z'), &dropped).empty());
    EXPECT_EQ(reader.Feed("tail\nopen\n", &dropped), std::vector<std::string>{"open"});
    EXPECT_EQ(dropped, 1u);
}

TEST(BacksimOptions, ParsesTheCommandLine) {
    std::string error;
    const auto options = ParseOptions({"--home", "/srv/qm/", "--qm", "/opt/qm/qm", "--trace",
                                       "--script", "demo.txt", "--close-timeout", "250"},
                                      &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->home, "/srv/qm");
    EXPECT_EQ(options->manager, "/opt/qm/qm");
    EXPECT_EQ(options->scriptPath, "demo.txt");
    EXPECT_TRUE(options->trace);
    EXPECT_EQ(options->closeTimeoutMs, 250);
    const auto plain = ParseOptions({"--qm", "qm", "--home", "/"}, &error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->home, "/");
    EXPECT_FALSE(plain->trace);
    EXPECT_TRUE(plain->scriptPath.empty());
    EXPECT_EQ(plain->closeTimeoutMs, 5000);
}

TEST(BacksimOptions, RefusesIncompleteOrUnknown) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--home", "/h"},
        {"--qm", "qm"},
        {"--home", "/h", "--qm"},
        {"--home", "/h", "--qm", "qm", "--frobnicate", "1"},
        {"--home", "/h", "--qm", "qm", "extra"},
        {"--home", "/h", "--qm", "qm", "--close-timeout", "soon"},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(ParseOptions(args, &error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace qm::backsim
