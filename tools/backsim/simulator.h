// qm-backsim's run: the window, the manager's process, signals, standard
// input and the script, all watched by one loop on this thread.
//
// The loop waits on the window's queue, a signalfd (SIGINT, SIGTERM,
// SIGCHLD), the manager's pidfd and standard input, with a time-out that is
// the next script step, delayed reply or closing deadline. Nothing polls.
#pragma once

#include "tools/backsim/options.h"

namespace qm::backsim {

// Runs until the manager has ended; returns the exit status for the
// simulator: the manager's, or 1 when it could not be started, 2 for a bad
// script, replies file or home folder.
int RunSimulator(const Options& options);

}  // namespace qm::backsim
