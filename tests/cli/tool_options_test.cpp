// Every program answers --help and --version as Linux tools do, and refuses
// an option it does not know.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/version.h"
#include "tools/process/child_process.h"

namespace qm::test {
namespace {

struct Tool {
    const char* name;
    const char* path;  // below the build folder
    // Options that --help must name: every option the tool takes.
    std::vector<std::string> options;
    bool manPage = true;
    // The manager started by anything but a handle ends at once and silently,
    // an unknown option included: the back-end relies on that end.
    bool refusesUnknownOptions = true;
};

const Tool kTools[] = {
    {"qm", "/app/qm", {"--help", "--version"}, true, false},
    {"qm-post", "/tools/qm-post", {"--set-event", "--listen", "--wait-event", "--version"}},
    {"qm-devsim",
     "/tools/qm-devsim",
     {"--home", "--script", "--trace", "--hide-beacons", "--version", "docs/devsim-script.md"}},
    {"qm-backsim",
     "/tools/qm-backsim",
     {"--home", "--qm", "--script", "--trace", "--close-timeout", "--version"}},
    {"qm-pktlog", "/tools/qm-pktlog", {"--site", "--end", "--help", "--version"}},
    {"qm-soak",
     "/tools/qm-soak",
     {"--settings", "--qm", "--dir", "--keep", "--seed", "--version", "docs/soak-settings.md"},
     false},
};

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result RunTool(const Tool& tool, const std::string& arg) {
    Result r;
    ChildProcess child;
    ChildProcess::Options options;
    options.capture = ChildProcess::Capture::kOutputAndErrors;
    options.nullInput = true;
    if (!child.Start(std::string(QM_BINARY_DIR) + tool.path, {arg}, options))
        return r;
    // The texts are far smaller than a pipe holds: the child never waits for
    // this reader.
    r.status = child.WaitExit(10000);
    std::string line;
    while (child.ReadLine(&line, 0)) r.out += line + "\n";
    r.err = child.Stderr();
    return r;
}

TEST(ToolOptions, HelpVersionAndUnknownOptions) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);

        const Result help = RunTool(tool, "--help");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        EXPECT_EQ(help.out.find("usage: " + std::string(tool.name) + " "), 0u) << help.out;
        for (const std::string& option : tool.options)
            EXPECT_NE(help.out.find(option), std::string::npos) << option << " in\n" << help.out;

        const Result version = RunTool(tool, "--version");
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.err, "");
        // One line that starts with the name and the version; qm adds the
        // service's version.
        const std::string first = std::string(tool.name) + " " + kVersion;
        ASSERT_EQ(version.out.find(first), 0u) << version.out;
        const std::string rest = version.out.substr(first.size());
        EXPECT_TRUE(rest == "\n" || (rest.starts_with(" (") && rest.ends_with(")\n")))
            << version.out;
        EXPECT_EQ(rest.find('\n'), rest.size() - 1) << version.out;

        const Result unknown = RunTool(tool, "--no-such-option");
        EXPECT_EQ(unknown.out, "");
        if (tool.refusesUnknownOptions) {
            EXPECT_GT(unknown.status, 0);
            EXPECT_NE(unknown.err.find(tool.name), std::string::npos) << unknown.err;
        } else {
            EXPECT_EQ(unknown.status, 0);
            EXPECT_EQ(unknown.err, "");
        }
    }
}

// The man pages, built from docs/man, describe the same options as --help,
// each as an entry of its own.
TEST(ToolOptions, ManPagesNameEveryOption) {
    const std::string dir = std::string(QM_BINARY_DIR) + "/man";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "built without the man pages (QM_MAN=OFF)";
    for (const Tool& tool : kTools) {
        if (!tool.manPage)
            continue;
        const std::string page = ReadWholeFile(dir + "/" + tool.name + ".1", 1 << 20).value_or("");
        ASSERT_FALSE(page.empty()) << tool.name;
        // An entry of its own in OPTIONS, beyond the synopsis.
        const size_t options = page.find("\n.SH OPTIONS");
        ASSERT_NE(options, std::string::npos) << tool.name;
        for (const std::string& option : tool.options) {
            if (!option.starts_with("--"))
                continue;
            EXPECT_NE(page.find("\\fB" + option + "\\fR", options), std::string::npos)
                << option << " in the man page of " << tool.name;
        }
    }
}

}  // namespace
}  // namespace qm::test
