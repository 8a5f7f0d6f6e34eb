// qm-soak: runs the manager under a whole site's load for a bounded time and
// checks that nothing was lost or duplicated (tools/soak/run.h).
//
//   qm-soak --settings FILE [--qm PATH] [--dir DIR] [--keep] [--seed N]
//
// --dir uses (and keeps) that program folder; --keep keeps the fresh one, with
// the manager's logs and the last request and reply files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/soak/run.h"
#include "tools/soak/settings.h"

// The manager program of this build tree, set by the build.
#ifndef QM_PROGRAM
#define QM_PROGRAM "qm"
#endif

namespace {

constexpr char kUsage[] =
    "usage: qm-soak --settings FILE [--qm PATH] [--dir DIR] [--keep] [--seed N]\n";

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
