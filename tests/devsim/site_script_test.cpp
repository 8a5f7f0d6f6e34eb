// Reading the site files the way the manager does, the script language of
// qm-devsim, and the trace lines.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/test_support.h"
#include "tests/devsim/manager_line.h"
#include "tools/devsim/frame_text.h"
#include "tools/devsim/script.h"
#include "tools/devsim/site.h"

namespace qm::devsim {
namespace {

TEST(SiteFiles, StationLinesAsTheManagerReadsThem) {
    const auto stations =
        ParseStations("1 COM3\r\n\r\n 2 COM4\r\n\t3\tCOM5 extra\r\n257 ttyUSB0long\n4\n");
    ASSERT_EQ(stations.size(), 3u);
    EXPECT_EQ(stations[0].hostId, 1);
    EXPECT_EQ(stations[0].portName, "COM3");
    // A leading blank skips the line; a leading tab does not.
    EXPECT_EQ(stations[1].hostId, 3);
    EXPECT_EQ(stations[1].portName, "COM5");
    // Numbers are kept as 8 bits; the manager keeps 6 bytes of a port name.
    EXPECT_EQ(stations[2].hostId, 1);
    EXPECT_EQ(stations[2].portName, "ttyUSB");
}

TEST(SiteFiles, TerminalLines) {
    const auto terminals = ParseTerminals("12 1\n5 1\n5 1\n7\nx9 2\n");
    ASSERT_EQ(terminals.size(), 4u);
    EXPECT_EQ(terminals[0].dcbId, 12);
    EXPECT_EQ(terminals[1].dcbId, 5);
    EXPECT_EQ(terminals[2].dcbId, 5);  // listed twice, kept twice
    EXPECT_EQ(terminals[3].dcbId, 0);  // no leading digits
    EXPECT_EQ(terminals[3].hostId, 2);
}

TEST(SiteFiles, LongLinesAreReadInPiecesOf99Bytes) {
    const std::string longLine = "1 COM3" + std::string(93, 'x') + "2 COM4\n";
    const auto pieces = SiteLines(longLine);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 99u);
    EXPECT_EQ(pieces[1], "2 COM4\n");
    EXPECT_EQ(ParseStations(longLine).size(), 2u);
}

TEST(SiteFiles, FoundIgnoringLetterCase) {
    qm::test::TempDir home;
    ASSERT_FALSE(home.path().empty());
    std::ofstream(home.path() + "/bt.TXT") << "x";
    const auto found = FindFileIgnoringCase(home.path(), "BT.txt");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, home.path() + "/bt.TXT");
    EXPECT_FALSE(FindFileIgnoringCase(home.path(), "DX.txt").has_value());
    EXPECT_EQ(ReadSmallFile(*found, 10), "x");
    EXPECT_FALSE(ReadSmallFile(*found, 0).has_value());
}

TEST(Script, StepsInTimeOrder) {
    std::string error;
    const auto script = ParseScript(
        "# demo\n"
        "at 900 clock 1 12\r\n"
        "\n"
        "  at 500 request 1 0x0C 0x0D  hello world \n"
        "at 500 request 2 7 13 hex:41 424a\n"
        "at 600 silent 1 12 on\n"
        "at 700 request 1 12 48\n"
        "end 5000\n",
        error);
    ASSERT_TRUE(script.has_value()) << error;
    ASSERT_EQ(script->steps.size(), 5u);
    const ScriptStep& first = script->steps[0];
    EXPECT_EQ(first.atMs, 500);
    EXPECT_EQ(first.action, ScriptStep::Action::kRequest);
    EXPECT_EQ(first.dcb, 12);
    EXPECT_EQ(first.command, 0x0D);
    EXPECT_EQ(first.payload, Bytes({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}));
    EXPECT_EQ(first.line, 4);
    EXPECT_EQ(script->steps[1].host, 2);
    EXPECT_EQ(script->steps[1].payload, Bytes({0x41, 0x42, 0x4A}));
    EXPECT_EQ(script->steps[2].action, ScriptStep::Action::kSilent);
    EXPECT_TRUE(script->steps[2].on);
    EXPECT_TRUE(script->steps[3].payload.empty());
    EXPECT_EQ(script->steps[4].action, ScriptStep::Action::kClock);
    EXPECT_EQ(script->endMs, 5000);
}

TEST(Script, ErrorsNameTheLine) {
    const char* bad[] = {
        "at x request 1 2 3 a\n",
        "at 10 request 1 256 3 a\n",
        "at 10 request 1 2 3 hex:4\n",
        "at 10 request 1 2 3 hex:00\n",
        "at 10 dance 1 2\n",
        "at 10 silent 1 2 maybe\n",
        "at 10 clock 1 2 extra\n",
        "end\n",
        "\nbegin 5\n",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(ParseScript(text, error).has_value()) << text;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << text << " -> " << error;
    }
    std::string error;
    ParseScript("\nbegin 5\n", error);
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
}

TEST(Trace, OneReadableLinePerFrame) {
    const int64_t origin = 1'000'000;
    FrameRecord record{"COM3", Direction::kFromManager,
                       DataFrame(12, 0x0D, 1, 1, Bytes{'h', 'i', '"'}), origin + 12'345'678, false};
    EXPECT_EQ(DescribeFrame(record, origin), "+12.345 COM3 -> T012 DATA cmd=0x0D k=1/1 \"hi\\\"\"");
    record.direction = Direction::kToManager;
    record.bytes = ControlFrame(12, kCmdPageForward);
    EXPECT_EQ(DescribeFrame(record, origin), "+12.345 COM3 <- T012 CTRL 0x04 page-forward");
    record.direction = Direction::kFromManager;
    EXPECT_EQ(DescribeFrame(record, origin), "+12.345 COM3 -> T012 CTRL 0x04 download-done");
    record.bytes = BroadcastLineFrame(3, 3, 2, Bytes{0xB2, 'x'});
    EXPECT_EQ(DescribeFrame(record, origin), "+12.345 COM3 -> ALL LINE file=0 rec=2/3 \"\\xB2x\"");
    record.bytes = Bytes{0x12, 0x34};
    record.raw = true;
    record.direction = Direction::kToManager;
    EXPECT_EQ(DescribeFrame(record, origin), "+12.345 COM3 <- RAW 12 34");
}

}  // namespace
}  // namespace qm::devsim
