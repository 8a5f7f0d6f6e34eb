// The simulator's commands, typed on standard input or played from a script.
//
//   sms <number> <dcb> <text>   write DX.txt ("%03d %03d %s", text in GBK),
//                               then post notice 0
//   open                        post notice 12 (the manager opens its window
//                               on the download panel)
//   notice <n>                  post any notice code n
//   close                       set the named event "__QM_MUTEXT": the
//                               manager closes, and so does the simulator
//   quit                        close the manager, wait for it (bounded), end
//   hold-replies on|off         stop or resume answering terminal requests
//   reply-delay <ms>            answer terminal requests this long after
//                               they came (0: at once)
//   stale-reply <host>          write R<host>.txt again with the reply to the
//                               request before that station's latest one,
//                               and post the host id: a reply the manager
//                               must refuse
//
// Numbers are decimal. The text of sms is the rest of the line, blanks
// inside kept; typed text is UTF-8 and goes to the file as GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::backsim {

struct Command {
    enum class Kind {
        kSms,
        kOpen,
        kNotice,
        kClose,
        kQuit,
        kHoldReplies,
        kReplyDelay,
        kStaleReply,
    };
    Kind kind = Kind::kQuit;
    int64_t number = 0;  // sms: message number; notice: code; reply-delay: ms;
                         // stale-reply: host id
    int dcbId = 0;       // sms
    std::string text;    // sms, as typed (UTF-8)
    bool on = false;     // hold-replies
};

// Longest reply delay: far beyond the manager's patience, small enough to add
// to a clock safely.
inline constexpr int64_t kMaxDelayMs = 24LL * 3600 * 1000;

// One command line (without its line end). nullopt with *error set when the
// line is not a command; blanks around it are ignored.
std::optional<Command> ParseCommand(std::string_view line, std::string* error);

// Whole-word decimal number within [min, max].
bool ParseNumber(std::string_view word, int64_t min, int64_t max, int64_t* out);

}  // namespace qm::backsim
