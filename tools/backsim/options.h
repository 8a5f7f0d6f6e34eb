// The command line of qm-backsim.
//
//   qm-backsim --home DIR --qm PATH [--script FILE] [--trace]
//              [--close-timeout MS]
//   qm-backsim --help | --version
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::backsim {

struct Options {
    std::string home;        // the manager's program folder (its QM_HOME)
    std::string manager;     // the manager's program
    std::string scriptPath;  // empty: no script
    bool trace = false;
    // How long the manager has to close after the close event before it gets
    // SIGTERM. Its own stop joins the threads of every station, which takes
    // well under a second; tests shorten it.
    int64_t closeTimeoutMs = 5000;
};

// The arguments after the program name. nullopt with *error set when they
// are not a valid command line.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error);

// The short usage (for a bad command line too) and the rest of --help.
const char* UsageText();
const char* HelpText();

}  // namespace qm::backsim
