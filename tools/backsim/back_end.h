// The simulated POS back-end: what it does with each notice from the manager
// and with each command, apart from running processes and waiting (that is
// the simulator's loop, simulator.h). Everything goes through files in the
// manager's TXT folder and through notices posted by a hook, so a test can
// drive it without a manager.
//
// Its side of the exchange with the manager (README, "Files and notices of
// the exchange"):
//  - the first notice carries the manager's window; every later notice goes
//    there;
//  - notice 1..8: T<host>.txt holds a terminal's request; R<host>.txt is
//    written completely, then the host id is posted. "DL  " (terminal logon)
//    is answered from users.txt, "UNKN" not at all, the rest from the reply
//    table;
//  - notice 10: DL.txt holds the operator's name and password; the verdict
//    becomes its first line, then 10 is posted;
//  - notice 11: the master-data files are brought up to date, then 11 is
//    posted.
// Faults on demand: replies held back, replies delayed, a stale reply.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_message.h"
#include "tools/backsim/command.h"
#include "tools/backsim/reply_table.h"
#include "tools/backsim/request_file.h"
#include "tools/backsim/trace.h"

namespace qm::backsim {

inline constexpr const char* kCloseEventName = "__QM_MUTEXT";
inline constexpr int kMaxHostId = 8;

class BackEnd {
  public:
    struct Hooks {
        // Posts WM_POS_NOTICE with the code to the window; false (errno set)
        // when it could not be delivered.
        std::function<bool(WindowHandle window, int64_t code)> post;
        // Sets the named event that closes the manager; false when nobody
        // waits for it.
        std::function<bool()> setCloseEvent;
        // Every event, "error" among them.
        TraceSink trace;
    };

    // home: the manager's program folder; its TXT folder holds the files.
    BackEnd(std::string home, ReplyTable replies, Hooks hooks);

    // One WM_POS_NOTICE from the manager (its lParam) at time nowMs.
    void OnNotice(int64_t code, int64_t nowMs);

    bool ManagerKnown() const { return manager_.has_value(); }
    WindowHandle Manager() const { return manager_.value_or(0); }

    // Carries out a command. Quit is not the back-end's: the caller owns the
    // manager's process. False when the command could not be carried out
    // (the reason is traced as an error).
    bool Execute(const Command& command);

    // When the next delayed reply is due; nullopt when none waits.
    std::optional<int64_t> NextDueMs() const;
    // Writes and announces every delayed reply due at nowMs.
    void RunDue(int64_t nowMs);

  private:
    struct Reply {
        int host = 0;
        std::string code;
        uint8_t dcbId = 0;
        std::vector<std::string> lines;
    };

    void OnRequest(int host, int64_t nowMs);
    void OnOperatorLogon();
    void OnDataRequest();
    std::vector<std::string> Answer(const RequestFile& request);
    void Remember(const Reply& reply);
    bool Send(const Reply& reply, std::string_view kind);
    bool Post(int64_t code);
    bool SendShortMessage(const Command& command);
    bool SendStaleReply(int host);
    void Trace(std::string_view kind, std::string_view detail) const;
    void Error(std::string_view detail) const { Trace("error", detail); }

    std::string txt_;
    ReplyTable replies_;
    Hooks hooks_;
    std::optional<WindowHandle> manager_;
    bool hold_ = false;
    int64_t delayMs_ = 0;
    std::multimap<int64_t, Reply> delayed_;  // by due time; equal times in order
    // The replies to each station's last two requests, oldest first, for
    // stale-reply.
    std::array<std::deque<Reply>, kMaxHostId + 1> history_;
};

}  // namespace qm::backsim
