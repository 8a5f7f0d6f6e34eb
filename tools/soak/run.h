// One soak run: a whole site of simulated base stations and terminals on
// pseudo-terminals, the real manager program started headless as a POS
// back-end starts it, and this process playing the back-end. Terminals send
// requests of every transaction code and of every size, clock requests and
// page requests at random times; the back-end answers every request with a
// reply of random length and sends short messages now and then. At the end
// every request, reply, short message and clock answer is accounted for
// (ledger.h), the manager's memory and its clean exit are checked, and the
// packet log is decoded.
#pragma once

#include <string>

#include "tools/soak/settings.h"

namespace qm::soak {

struct RunOptions {
    std::string manager;  // the qm program
    std::string folder;   // the program folder to use; empty: a fresh one in /tmp
    bool keep = false;    // keep the program folder (logs, files) afterwards
};

// Prints the figures on standard output. Returns 0 when every check held, 1
// when one failed, 2 when the run could not be set up.
int RunSoak(const Settings& settings, const RunOptions& options);

}  // namespace qm::soak
