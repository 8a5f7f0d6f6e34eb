// The little script language of qm-devsim: what the terminals do and when,
// one step a line ("at <ms> <action> <host> <dcb> ...", "end <ms>"). The
// format, complete with its ranges and errors, is docs/devsim-script.md;
// keep the two together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/devsim/frame.h"

namespace qm::devsim {

struct ScriptStep {
    enum class Action { kRequest, kClock, kSilent, kNoSearch, kStopAcks, kDelayEchoes };
    int64_t atMs = 0;
    Action action = Action::kRequest;
    uint8_t host = 0;
    uint8_t dcb = 0;
    uint8_t command = 0;
    Bytes payload;
    bool on = false;
    uint32_t count = 0;  // stopacks: lines (UINT32_MAX for off); delayechoes: echoes
    uint32_t delayMs = 0;
    int line = 0;  // 1-based line in the script, for messages
};

struct Script {
    std::vector<ScriptStep> steps;  // in the order they run
    std::optional<int64_t> endMs;
};

// Parses a whole script; on error returns nullopt and a message naming the
// line.
std::optional<Script> ParseScript(std::string_view text, std::string& error);

}  // namespace qm::devsim
