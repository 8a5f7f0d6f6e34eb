#include "tools/backsim/command.h"

#include <charconv>
#include <cstdint>

#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

std::optional<Command> Fail(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
    return std::nullopt;
}

}  // namespace

bool ParseNumber(std::string_view word, int64_t min, int64_t max, int64_t* out) {
    if (word.empty() || (word.front() == '+')) {
        return false;
    }
    int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || ptr != word.data() + word.size() || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

std::optional<Command> ParseCommand(std::string_view line, std::string* error) {
    std::string_view rest = line;
    const std::string_view verb = NextWord(rest);
    Command command;
    if (verb == "sms") {
        command.kind = Command::Kind::kSms;
        int64_t dcb = 0;
        if (!ParseNumber(NextWord(rest), 0, 255, &command.number) ||
            !ParseNumber(NextWord(rest), 0, 255, &dcb)) {
            return Fail(error, "usage: sms <number 0..255> <dcb 0..255> <text>");
        }
        command.dcbId = static_cast<int>(dcb);
        // One blank separates the DCB id from the text; the rest is the text.
        if (!rest.empty()) {
            rest.remove_prefix(1);
        }
        while (!rest.empty() &&
               (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) {
            rest.remove_suffix(1);
        }
        command.text = std::string(rest);
        return command;
    }
    const std::string_view argument = NextWord(rest);
    const bool extra = !NextWord(rest).empty();
    if (verb == "open" || verb == "close" || verb == "quit") {
        if (!argument.empty()) {
            return Fail(error, std::string(verb) + " takes no argument");
        }
        command.kind = verb == "open"    ? Command::Kind::kOpen
                       : verb == "close" ? Command::Kind::kClose
                                         : Command::Kind::kQuit;
        return command;
    }
    if (extra) {
        return Fail(error, std::string(verb) + ": too many arguments");
    }
    if (verb == "notice") {
        command.kind = Command::Kind::kNotice;
        if (!ParseNumber(argument, INT64_MIN, INT64_MAX, &command.number)) {
            return Fail(error, "usage: notice <code>");
        }
        return command;
    }
    if (verb == "hold-replies") {
        command.kind = Command::Kind::kHoldReplies;
        if (argument != "on" && argument != "off") {
            return Fail(error, "usage: hold-replies on|off");
        }
        command.on = argument == "on";
        return command;
    }
    if (verb == "reply-delay") {
        command.kind = Command::Kind::kReplyDelay;
        if (!ParseNumber(argument, 0, kMaxDelayMs, &command.number)) {
            return Fail(error, "usage: reply-delay <ms>");
        }
        return command;
    }
    if (verb == "stale-reply") {
        command.kind = Command::Kind::kStaleReply;
        if (!ParseNumber(argument, 1, 8, &command.number)) {
            return Fail(error, "usage: stale-reply <host 1..8>");
        }
        return command;
    }
    return Fail(error, verb.empty() ? "empty command" : "unknown command: " + std::string(verb));
}

}  // namespace qm::backsim
