// Logons: the terminal's ("DL  " request) and the operator's (DL.txt), both
// checked against the back-end's user table TXT/users.txt.
//
// users.txt: one user a line, "name password" separated by blanks; blank
// lines and lines starting with # are skipped; a name without a password has
// an empty one. Names and passwords are compared as GBK bytes (the file may be
// written in UTF-8; see text.h).
//
// The verdict line: "1 <name>" for an accepted logon, "0 <reason>" otherwise.
// The manager looks only at the first character and shows the rest.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::backsim {

inline constexpr const char* kUsersFileName = "users.txt";
inline constexpr const char* kOperatorLogonFileName = "DL.txt";

struct User {
    std::string name;
    std::string password;
};

struct Credentials {
    std::string name;
    std::string password;
};

struct Verdict {
    bool accepted = false;
    std::string line;  // "1 zhang" or "0 密码错误" (GBK), without a line end
};

std::vector<User> ParseUsers(std::string_view text);

// Checks name and password against the table. A name that is not listed and
// a wrong password give different reasons, as a real till does for its staff.
Verdict CheckLogon(const std::vector<User>& users, const Credentials& who);

// The first body line of a terminal's "DL  " request: the user in 10 bytes,
// a blank, the password in 4, a blank and 8 bytes of the terminal's own.
// The fields are cut at their places and stripped of blanks; a line cut short
// leaves the later fields empty.
Credentials ParseTerminalLogon(std::string_view line);

// DL.txt as the manager's logon dialog writes it: one line, the name
// right-aligned in 4 bytes, a blank, then the password (right-aligned in 4
// bytes, or 5 to 8 bytes as typed). nullopt when the file has no such line.
std::optional<Credentials> ParseOperatorLogon(std::string_view fileText);

// DL.txt after the verdict: the verdict as its first line, then what the
// dialog wrote, every line ended by CR LF.
std::string OperatorVerdictFile(const Verdict& verdict, std::string_view fileText);

}  // namespace qm::backsim
