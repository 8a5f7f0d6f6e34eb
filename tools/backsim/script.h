// The simulator's script: commands (command.h) at given times.
//
//   # the demo: a short message, then the manager opens
//   at 0    sms 1 12 欢迎光临
//   at 1500 open
//   at 3000 reply-delay 800
//   end 60000
//
// Times are milliseconds after the manager announced its window, the moment
// from which notices can reach it; steps at 0 run before the manager's next
// notice is handled. Steps run in time order, steps of equal
// time in file order. "end <ms>" quits at that time, after the steps of the
// same time. Blank lines and lines starting with # are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/backsim/command.h"

namespace qm::backsim {

// Ten days: far beyond any demo, small enough to add to a clock safely.
inline constexpr int64_t kMaxScriptMs = 10LL * 24 * 3600 * 1000;

struct ScriptStep {
    int64_t atMs = 0;
    Command command;
    int line = 0;  // 1-based, for messages
};

struct Script {
    std::vector<ScriptStep> steps;  // in the order they run; "end" is a quit step
};

// nullopt with *error ("line 4: ...") for the first bad line.
std::optional<Script> ParseScript(std::string_view text, std::string* error);

}  // namespace qm::backsim
