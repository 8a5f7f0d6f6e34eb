#include "panels/logon_form.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/app_log.h"
#include "platform/files.h"
#include "platform/gbk.h"

namespace qm {
namespace {

// A field right-aligned in 4 bytes; a longer one as it is.
std::string RightAligned(const std::string& bytes) {
    return std::string(bytes.size() < 4 ? 4 - bytes.size() : 0, ' ') + bytes;
}

}  // namespace

bool LogonForm::PasswordFits(std::string_view utf8) {
    return GbkByteCount(utf8) <= kLogonPasswordBytes;
}

LogonForm::Outcome LogonForm::Confirm(std::string_view name, std::string_view password) {
    name_ = name;
    password_ = password;
    std::string nameGbk, passwordGbk;
    const bool nameFits = GbkByteCount(name) <= kLogonNameBytes && Utf8ToGbk(name, &nameGbk);
    const bool passwordFits = PasswordFits(password) && Utf8ToGbk(password, &passwordGbk);
    if (!nameFits || !passwordFits) {
        Cancel();
        return nameFits ? Outcome::kPasswordTooLong : Outcome::kNameTooLong;
    }
    const std::string line = RightAligned(nameGbk) + " " + RightAligned(passwordGbk) + "\r\n";
    const std::string path = site_.programDir + "/TXT/DL.txt";
    if (!WriteWholeFile(path, line.data(), line.size())) {
        char text[96];
        std::snprintf(text, sizeof text, "DL.txt cannot be written: %s", std::strerror(errno));
        LogError(text, 255, 255);
        return Outcome::kNotWritten;
    }
    Cancel();
    return Outcome::kWritten;
}

void LogonForm::Cancel() {
    name_.clear();
    password_.clear();
}

}  // namespace qm
