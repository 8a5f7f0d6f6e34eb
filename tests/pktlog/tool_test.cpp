// qm-pktlog as a program: its exit status tells a script whether every line
// of the log was an entry, and its command line follows the usual habits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

#include "platform/version.h"
#include "tests/common/test_support.h"
#include "tools/process/child_process.h"

namespace qm::test {
namespace {

struct ToolRun {
    int status = -1;
    std::string output;
    std::string errors;
};

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child;
    ToolRun run;
    if (!child.Start(program, args, "", ChildProcess::Capture::kOutputAndErrors))
        return run;
    for (std::string line; child.ReadLine(&line, 10000);) run.output += line + "\n";
    run.status = child.WaitExit(10000);
    run.errors = child.Stderr();
    return run;
}

constexpr char kPktlog[] = QM_BINARY_DIR "/tools/qm-pktlog";

ToolRun RunPktlog(const std::vector<std::string>& args) {
    return RunProgram(kPktlog, args);
}

TEST(PacketLogTool, ExitStatusAndMessages) {
    TempDir dir;
    const std::string good = "0012 [S] 00 05 FA FF \r\n";
    ASSERT_TRUE(WriteFile(dir / "good.txt", good + good));
    ASSERT_TRUE(WriteFile(dir / "bad.txt", good + "garbage\r\n" + good + "0001 [E7] 00\r\n"));
    const struct {
        std::vector<std::string> args;
        int status;
        const char* output;  // a line it holds, "" for nothing at all
        const char* errors;  // a line standard error holds, "" for nothing at all
    } cases[] = {
        {{dir / "good.txt"}, 0, "-          sent     DCB 005  beacon    poll", ""},
        {{"--", dir / "bad.txt"},
         1,
         "line 4: malformed, unknown tag",
         "qm-pktlog: line 2: malformed, no time in milliseconds: \"garbage\"\n"
         "qm-pktlog: line 4: malformed, unknown tag: \"0001 [E7] 00\"\n"
         "qm-pktlog: 2 malformed lines\n"},
        {{"--version"}, 0, "qm-pktlog " QM_VERSION "\n", ""},
        {{"--help"}, 0, "  -V, --version  show the version and exit\n", ""},
        {{"--bogus"}, 2, "", "qm-pktlog: unknown option --bogus\nusage: qm-pktlog"},
        {{dir / "good.txt", dir / "bad.txt"}, 2, "", "more than one file"},
        {{dir / "missing.txt"}, 2, "", "cannot open"},
        {{"--site", dir.path(), dir / "good.txt"}, 2, "", "no TXT folder in"},
        {{"--end", "2026-12-07 25:00:00", dir / "good.txt"}, 2, "", "not a time"},
        {{"--end"}, 2, "", "missing value of --end"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunPktlog(c.args);
        const std::string what = c.args[0];
        EXPECT_EQ(run.status, c.status) << what;
        if (*c.output == '\0')
            EXPECT_EQ(run.output, "") << what;
        else
            EXPECT_NE(run.output.find(c.output), std::string::npos) << what << "\n" << run.output;
        if (*c.errors == '\0')
            EXPECT_EQ(run.errors, "") << what;
        else
            EXPECT_NE(run.errors.find(c.errors), std::string::npos) << what << "\n" << run.errors;
    }
}

// Local time as UTC for the tool started, whatever the machine's zone.
class PacketLogToolColumns : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            oldTz_ = tz;
        setenv("TZ", "UTC0", 1);
    }
    void TearDown() override {
        if (oldTz_)
            setenv("TZ", oldTz_->c_str(), 1);
        else
            unsetenv("TZ");
    }
    std::optional<std::string> oldTz_;
};

// The columns as the tool fills them: the station from the site beside the
// log or named by --site, the time from the file's modification time or
// --end; standard input has neither unless they are given.
TEST_F(PacketLogToolColumns, SiteAndTimeFromTheFileOrTheOptions) {
    TempDir site;
    ASSERT_TRUE(CreateFolder(site / "TXT"));
    ASSERT_TRUE(WriteFile(site / "TXT/基站.TXT", "1 COM3\r\n"));
    ASSERT_TRUE(WriteFile(site / "TXT/点菜机.TXT", "5 1\r\n"));
    const std::string log = site / "QMPktLog.txt";
    ASSERT_TRUE(WriteFile(log, "0012 [S] 00 05 FA FF \r\n0250 [R] 00 05 FA FF \r\n"));
    // 2026-12-07 22:54:33.500 UTC, as the manager's last append left it.
    const timespec times[2] = {{1796684073, 500000000}, {1796684073, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, log.c_str(), times, 0), 0);
    TempDir elsewhere;
    const std::string copy = elsewhere / "QMPktLog.txt";
    ASSERT_TRUE(CopyFile(log, copy));
    ASSERT_EQ(utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);
    const std::string end = "--end '2026-01-02 03:04:05.006'";

    const struct {
        const char* what;
        std::string command;  // for sh -c
        const char* first;    // the first timeline line
        const char* second;
    } cases[] = {
        {"the file beside its site", std::string(kPktlog) + " " + log,
         "0012 2026-12-07 22:54:33.250 1:COM3     sent     DCB 005  beacon    poll",
         "0250 2026-12-07 22:54:33.500 1:COM3     received DCB 005  beacon    answer"},
        {"a copy away from its site", std::string(kPktlog) + " " + copy,
         "0012 2026-12-07 22:54:33.250 -          sent     DCB 005  beacon    poll",
         "0250 2026-12-07 22:54:33.500 -          received DCB 005  beacon    answer"},
        {"a copy with --site and --end",
         std::string(kPktlog) + " --site " + site.path() + " " + end + " " + copy,
         "0012 2026-01-02 03:04:04.756 1:COM3     sent     DCB 005  beacon    poll",
         "0250 2026-01-02 03:04:05.006 1:COM3     received DCB 005  beacon    answer"},
        {"standard input", "cat " + log + " | " + kPktlog,
         "0012 -          -            -          sent     DCB 005  beacon    poll",
         "0250 -          -            -          received DCB 005  beacon    answer"},
        {"standard input with --end", "cat " + log + " | " + kPktlog + " " + end + " -",
         "0012 2026-01-02 03:04:04.756 -          sent     DCB 005  beacon    poll",
         "0250 2026-01-02 03:04:05.006 -          received DCB 005  beacon    answer"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunProgram("/bin/sh", {"-c", c.command});
        EXPECT_EQ(run.status, 0) << c.what << "\n" << run.errors;
        EXPECT_EQ(run.output, std::string(c.first) + "\n" + c.second + "\n") << c.what;
    }
}

}  // namespace
}  // namespace qm::test
