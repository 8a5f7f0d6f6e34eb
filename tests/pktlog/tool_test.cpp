// qm-pktlog as a program: its exit status tells a script whether every line
// of the log was an entry, and its command line follows the usual habits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

ToolRun RunPktlog(const std::vector<std::string>& args) {
    ChildProcess child;
    ToolRun run;
    if (!child.Start(QM_BINARY_DIR "/tools/qm-pktlog", args, "",
                     ChildProcess::Capture::kOutputAndErrors))
        return run;
    for (std::string line; child.ReadLine(&line, 10000);) run.output += line + "\n";
    run.status = child.WaitExit(10000);
    run.errors = child.Stderr();
    return run;
}

TEST(PacketLogTool, ExitStatusAndMessages) {
    TempDir dir;
    const std::string good = "0012 [S] 00 05 FA FF | 1 COM3 2026-12-07 22:54:33.123\r\n";
    ASSERT_TRUE(WriteFile(dir / "good.txt", good + good));
    ASSERT_TRUE(WriteFile(dir / "bad.txt", good + "garbage\r\n" + good + "0001 [E7] 00\r\n"));
    const struct {
        std::vector<std::string> args;
        int status;
        const char* output;  // a line it holds, "" for nothing at all
        const char* errors;  // a line standard error holds, "" for nothing at all
    } cases[] = {
        {{dir / "good.txt"}, 0, "1:COM3     sent     DCB 005  beacon    poll", ""},
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

}  // namespace
}  // namespace qm::test
