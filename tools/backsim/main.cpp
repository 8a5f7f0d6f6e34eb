// qm-backsim: a stand-in for the restaurant's POS back-end, for the demo and
// the end-to-end tests. Starts the manager with its window handle, answers
// its requests and logons, and sends short messages and notices on command.
// See tools/backsim/options.cpp for the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/version.h"
#include "tools/backsim/options.h"
#include "tools/backsim/simulator.h"

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(qm::backsim::UsageText(), stdout);
        std::fputs(qm::backsim::HelpText(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qm-backsim %s\n", qm::kVersion);
        return 0;
    }
    std::string error;
    const auto options =
        qm::backsim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "qm-backsim: %s\n%s", error.c_str(), qm::backsim::UsageText());
        return 2;
    }
    return qm::backsim::RunSimulator(*options);
}
