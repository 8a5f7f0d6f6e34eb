// qm-soak: runs the manager under a whole site's load for a bounded time and
// checks that nothing was lost or duplicated (tools/soak/run.h).
//
//   qm-soak --settings FILE [--qm PATH] [--dir DIR] [--keep] [--seed N]
//   qm-soak --help | --version
//
// --dir uses (and keeps) that program folder; --keep keeps the fresh one, with
// the manager's logs and the last request and reply files. The settings
// files are described in docs/soak-settings.md.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/version.h"
#include "tools/soak/run.h"
#include "tools/soak/settings.h"

// The manager program of this build tree, set by the build.
#ifndef QM_PROGRAM
#define QM_PROGRAM "qm"
#endif

namespace {

constexpr char kUsage[] =
    "usage: qm-soak --settings FILE [--qm PATH] [--dir DIR] [--keep] [--seed N]\n"
    "       qm-soak --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Runs a whole site of simulated base stations and terminals against the\n"
    "manager, started headless with this process as its back-end, for a bounded\n"
    "time, and checks that every request, reply, short message and clock answer\n"
    "arrived once, that the manager's memory stayed flat and that it closed\n"
    "cleanly. Prints its figures on standard output.\n"
    "\n"
    "  --settings FILE   the run's settings, \"key = value\" lines (required);\n"
    "                    every key is described in docs/soak-settings.md\n"
    "  --qm PATH         the manager program (default: the one of this build)\n"
    "  --dir DIR         use DIR as the manager's program folder, and keep it\n"
    "  --keep            keep the fresh program folder in /tmp, with the\n"
    "                    manager's logs and the last request and reply files\n"
    "  --seed N          the random seed (0 to 4294967295), in place of the\n"
    "                    file's\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "Exit status: 0 when every check held, 1 when one failed, 2 for bad\n"
    "arguments or settings or a run that could not be set up.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string settingsPath;
    std::string seed;
    qm::soak::RunOptions options;
    options.manager = QM_PROGRAM;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--settings" && hasValue) {
            settingsPath = argv[++i];
        } else if (arg == "--qm" && hasValue) {
            options.manager = argv[++i];
        } else if (arg == "--dir" && hasValue) {
            options.folder = argv[++i];
        } else if (arg == "--seed" && hasValue) {
            seed = argv[++i];
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("qm-soak %s\n", qm::kVersion);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (settingsPath.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string error;
    auto settings = qm::soak::LoadSettings(settingsPath, &error);
    if (settings && !seed.empty()) {
        // The file's other settings stay; only the seed is replaced.
        const auto seeded = qm::soak::ParseSettings("seed = " + seed, &error);
        if (seeded)
            settings->seed = seeded->seed;
        else
            settings.reset();
    }
    if (!settings) {
        std::fprintf(stderr, "qm-soak: %s\n", error.c_str());
        return 2;
    }
    return qm::soak::RunSoak(*settings, options);
}
