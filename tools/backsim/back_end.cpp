#include "tools/backsim/back_end.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "service/qmsdk.h"
#include "tools/backsim/file_io.h"
#include "tools/backsim/logon.h"
#include "tools/backsim/master_data.h"
#include "tools/backsim/reply_file.h"
#include "tools/backsim/short_message_file.h"
#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

std::string RequestFileName(int host) {
    return "T" + std::to_string(host) + ".txt";
}
std::string ReplyFileName(int host) {
    return "R" + std::to_string(host) + ".txt";
}

}  // namespace

BackEnd::BackEnd(std::string home, ReplyTable replies, Hooks hooks)
    : txt_(std::move(home) + "/TXT"), replies_(std::move(replies)), hooks_(std::move(hooks)) {}

void BackEnd::OnNotice(int64_t code, int64_t nowMs) {
    if (!manager_) {
        if (code <= 0 || !ValidWindowHandle(static_cast<WindowHandle>(code)) ||
            code != static_cast<WindowHandle>(code)) {
            Error("first notice " + std::to_string(code) + " is not a window handle; ignored");
            return;
        }
        manager_ = static_cast<WindowHandle>(code);
        Trace("manager", "window " + std::to_string(code));
        return;
    }
    if (code >= 1 && code <= kMaxHostId) {
        OnRequest(static_cast<int>(code), nowMs);
        return;
    }
    switch (code) {
        case QM_NOTICE_LOGON:
            OnOperatorLogon();
            return;
        case QM_NOTICE_DATA_READY:
            OnDataRequest();
            return;
        case 0:
            // Host id 0 shares its number with the short-message notice, so
            // a reply could never reach that station.
            Error("request from host id 0 cannot be answered");
            return;
        default:
            Error("notice " + std::to_string(code) + " has no meaning; ignored");
    }
}

void BackEnd::OnRequest(int host, int64_t nowMs) {
    const std::string name = RequestFileName(host);
    const auto bytes = ReadWholeFile(PathIgnoringCase(txt_, name), kMaxExchangeFileBytes);
    const auto request = bytes ? ParseRequestFile(*bytes) : std::nullopt;
    if (!request) {
        Error(name + (bytes ? " has no valid header" : " cannot be read"));
        return;
    }
    Trace("request",
          DescribeExchange(name, ReplyHeader(request->code, request->dcbId), request->lines));
    if (request->code == kUnknownCode) {
        Trace("unknown", name + " names no code; not answered");
        return;
    }
    Reply reply{host, request->code, request->dcbId, Answer(*request)};
    Remember(reply);
    if (hold_) {
        Trace("held", ReplyHeader(reply.code, reply.dcbId) + " not answered (hold-replies on)");
        return;
    }
    if (delayMs_ > 0) {
        Trace("delay", ReplyFileName(host) + " in " + std::to_string(delayMs_) + " ms");
        delayed_.emplace(nowMs + delayMs_, std::move(reply));
        return;
    }
    Send(reply, "reply");
}

std::vector<std::string> BackEnd::Answer(const RequestFile& request) {
    if (NormaliseCodeName(request.code) != kTerminalLogonCode) {
        return replies_.Answer(request);
    }
    const auto users = ReadWholeFile(PathIgnoringCase(txt_, kUsersFileName), kMaxExchangeFileBytes);
    if (!users) {
        Error(std::string(kUsersFileName) + " cannot be read; every logon is refused");
    }
    const Credentials who =
        ParseTerminalLogon(request.lines.empty() ? std::string_view() : request.lines.front());
    return {CheckLogon(ParseUsers(ToGbk(users.value_or(""))), who).line};
}

void BackEnd::Remember(const Reply& reply) {
    std::deque<Reply>& last = history_[static_cast<size_t>(reply.host)];
    last.push_back(reply);
    if (last.size() > 2) {
        last.pop_front();
    }
}

bool BackEnd::Send(const Reply& reply, std::string_view kind) {
    const std::string name = ReplyFileName(reply.host);
    if (!WriteWholeFile(txt_ + "/" + name, FormatReplyFile(reply.code, reply.dcbId, reply.lines))) {
        Error(name + " cannot be written: " + std::strerror(errno));
        return false;
    }
    Trace(kind, DescribeExchange(name, ReplyHeader(reply.code, reply.dcbId), reply.lines));
    return Post(reply.host);
}

void BackEnd::OnOperatorLogon() {
    const std::string path = PathIgnoringCase(txt_, kOperatorLogonFileName);
    const auto text = ReadWholeFile(path, kMaxExchangeFileBytes);
    if (!text) {
        Error(std::string(kOperatorLogonFileName) + " cannot be read; no verdict");
        return;
    }
    const auto users = ReadWholeFile(PathIgnoringCase(txt_, kUsersFileName), kMaxExchangeFileBytes);
    if (!users) {
        Error(std::string(kUsersFileName) + " cannot be read; every logon is refused");
    }
    const Credentials who = ParseOperatorLogon(*text).value_or(Credentials{});
    const Verdict verdict = CheckLogon(ParseUsers(ToGbk(users.value_or(""))), who);
    if (!WriteWholeFile(path, OperatorVerdictFile(verdict, *text))) {
        Error(std::string(kOperatorLogonFileName) + " cannot be written: " + std::strerror(errno));
        return;
    }
    Trace("logon", std::string(kOperatorLogonFileName) + " " + GbkForDisplay(who.name) + " -> " +
                       GbkForDisplay(verdict.line));
    Post(QM_NOTICE_LOGON);
}

void BackEnd::OnDataRequest() {
    const RefreshResult result = RefreshMasterData(txt_);
    Trace("data", std::to_string(result.rewritten) + " master-data files refreshed, " +
                      std::to_string(result.created) + " created empty, " +
                      std::to_string(result.failed) + " failed");
    Post(QM_NOTICE_DATA_READY);
}

bool BackEnd::Post(int64_t code) {
    if (!manager_) {
        Error("notice " + std::to_string(code) + " not posted: the manager has no window yet");
        return false;
    }
    if (hooks_.post && hooks_.post(*manager_, code)) {
        return true;
    }
    Error("notice " + std::to_string(code) + " to window " + std::to_string(*manager_) +
          " failed: " + std::strerror(errno));
    return false;
}

bool BackEnd::Execute(const Command& command) {
    switch (command.kind) {
        case Command::Kind::kSms:
            return SendShortMessage(command);
        case Command::Kind::kOpen:
            Trace("post", "12 open the download panel");
            return Post(QM_NOTICE_OPEN_DOWNLOAD);
        case Command::Kind::kNotice:
            Trace("post", std::to_string(command.number));
            return Post(command.number);
        case Command::Kind::kClose:
            if (hooks_.setCloseEvent && hooks_.setCloseEvent()) {
                Trace("close", std::string("set ") + kCloseEventName);
                return true;
            }
            Error(std::string(kCloseEventName) + " not set: nobody waits for it");
            return false;
        case Command::Kind::kHoldReplies:
            hold_ = command.on;
            Trace("fault", std::string("hold-replies ") + (hold_ ? "on" : "off"));
            return true;
        case Command::Kind::kReplyDelay:
            delayMs_ = command.number;
            Trace("fault", "reply-delay " + std::to_string(delayMs_) + " ms");
            return true;
        case Command::Kind::kStaleReply:
            return SendStaleReply(static_cast<int>(command.number));
        case Command::Kind::kQuit:
            break;
    }
    return false;
}

bool BackEnd::SendShortMessage(const Command& command) {
    if (!manager_) {
        Error("sms not sent: the manager has no window yet");
        return false;
    }
    const std::string gbk = ToGbk(command.text);
    const auto line = FormatShortMessage(static_cast<int>(command.number), command.dcbId, gbk);
    if (!line) {
        Error("sms: bad message number, DCB id or text");
        return false;
    }
    if (gbk.size() > kShortMessageTextBytes) {
        Trace("note", "sms text has " + std::to_string(gbk.size()) +
                          " bytes; the manager keeps the first 40");
    }
    if (!WriteWholeFile(txt_ + "/" + kShortMessageFileName, *line)) {
        Error(std::string(kShortMessageFileName) + " cannot be written: " + std::strerror(errno));
        return false;
    }
    char detail[32];
    std::snprintf(detail, sizeof detail, "%-7s %03d %03d ", kShortMessageFileName,
                  static_cast<int>(command.number), command.dcbId);
    Trace("sms", detail + GbkForDisplay(gbk));
    return Post(QM_NOTICE_SHORT_MESSAGE);
}

bool BackEnd::SendStaleReply(int host) {
    const std::deque<Reply>& last = history_[static_cast<size_t>(host)];
    if (last.size() < 2) {
        Error("stale-reply " + std::to_string(host) + ": host " + std::to_string(host) +
              " has had no request before its latest one");
        return false;
    }
    return Send(last.front(), "stale");
}

std::optional<int64_t> BackEnd::NextDueMs() const {
    if (delayed_.empty()) {
        return std::nullopt;
    }
    return delayed_.begin()->first;
}

void BackEnd::RunDue(int64_t nowMs) {
    while (!delayed_.empty() && delayed_.begin()->first <= nowMs) {
        const Reply reply = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
        Send(reply, "reply");
    }
}

void BackEnd::Trace(std::string_view kind, std::string_view detail) const {
    if (hooks_.trace) {
        hooks_.trace(kind, detail);
    }
}

}  // namespace qm::backsim
