#include "tools/backsim/logon.h"

#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

// Verdict texts of the back-end's own; GBK.
std::string NoSuchUser() {
    return ToGbk("无此用户");
}
std::string WrongPassword() {
    return ToGbk("密码错误");
}

// The bytes [at, at + width) of the line, as far as it reaches.
std::string_view Field(std::string_view line, size_t at, size_t width) {
    if (at >= line.size()) {
        return {};
    }
    return line.substr(at, width);
}

}  // namespace

std::vector<User> ParseUsers(std::string_view text) {
    std::vector<User> users;
    for (const std::string& raw : SplitLines(text)) {
        std::string_view rest = raw;
        const std::string_view name = NextWord(rest);
        if (name.empty() || name.front() == '#') {
            continue;
        }
        users.push_back(User{std::string(name), std::string(TrimBlanks(rest))});
    }
    return users;
}

Verdict CheckLogon(const std::vector<User>& users, const Credentials& who) {
    for (const User& user : users) {
        if (user.name != who.name) {
            continue;
        }
        if (user.password != who.password) {
            return Verdict{false, "0 " + WrongPassword()};
        }
        return Verdict{true, "1 " + who.name};
    }
    return Verdict{false, "0 " + NoSuchUser()};
}

Credentials ParseTerminalLogon(std::string_view line) {
    return Credentials{std::string(TrimBlanks(Field(line, 0, 10))),
                       std::string(TrimBlanks(Field(line, 11, 4)))};
}

std::optional<Credentials> ParseOperatorLogon(std::string_view fileText) {
    const std::vector<std::string> lines = SplitLines(fileText);
    if (lines.empty()) {
        return std::nullopt;
    }
    const std::string_view line = lines.front();
    // "%s %s": a 4-byte name field, its separator, then the password field.
    if (line.size() < 5 || line[4] != ' ') {
        return std::nullopt;
    }
    return Credentials{std::string(TrimBlanks(line.substr(0, 4))),
                       std::string(TrimBlanks(line.substr(5)))};
}

std::string OperatorVerdictFile(const Verdict& verdict, std::string_view fileText) {
    std::string out = verdict.line + "\r\n";
    for (const std::string& line : SplitLines(fileText)) {
        out += line + "\r\n";
    }
    return out;
}

}  // namespace qm::backsim
