// The little script language of qm-devsim: what the terminals do and when.
//
// One command per line; blank lines and lines starting with # are skipped.
// Times are milliseconds after the simulator is ready; steps run in time
// order (steps with equal times in file order).
//
//   at <ms> request <host> <dcb> <cmd> [<text> | hex:<hex digits>]
//        queue a request at terminal <dcb> of station <host>; the text is the
//        rest of the line as bytes; without data it is a control request
//   at <ms> clock <host> <dcb>           queue a clock request (0x05)
//   at <ms> silent <host> <dcb> on|off   switch the terminal out of / into reach
//   at <ms> nosearch <host> <dcb> on|off leave the download search unanswered
//   at <ms> stopacks <host> <dcb> <lines>|off
//        acknowledge <lines> more download lines, then no further one; off
//        acknowledges every line again
//   at <ms> delayechoes <host> <dcb> <count> <delay ms>
//        send the next <count> link test echoes <delay ms> late
//   end <ms>                             end the run
//
// Host, DCB id and command are decimal or 0x-prefixed hexadecimal, 0..255;
// line and echo counts are decimal.
// Example:
//   # table 5 opens and orders
//   at 500  request 1 12 0x0D hello
//   at 1500 request 1 12 0x0E hex:41 42 43
//   at 2000 clock 1 12
//   # the next download run loses this terminal after its third line
//   at 2000 stopacks 1 12 3
//   end 5000
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
