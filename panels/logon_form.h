// The operator logon's rules: the typed user name and password, their byte
// limits counted in GBK (a Chinese character counts two), and the line that
// tells them to the back-end in TXT/DL.txt.
//
// The back-end reads DL.txt after notice 10 and writes its verdict into the
// same file. The line is "%s %s\r\n": the name right-aligned in 4 bytes, a
// blank, the password right-aligned in 4 bytes (5 to 8 bytes as typed), both
// as GBK bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "site/site_context.h"

namespace qm {

inline constexpr size_t kLogonNameBytes = 4;
inline constexpr size_t kLogonPasswordBytes = 8;
inline constexpr const char* kLogonNameWarning = "Please enter no more than 4 characters.";

class LogonForm {
  public:
    enum class Outcome {
        kWritten,          // DL.txt holds the line; the dialog ends with OK
        kNameTooLong,      // refused with kLogonNameWarning; both fields emptied
        kPasswordTooLong,  // refused; both fields emptied
        kNotWritten,       // DL.txt could not be written (logged); nothing emptied
    };

    explicit LogonForm(const SiteContext& site) : site_(site) {}

    // The confirm action on the typed texts (UTF-8).
    Outcome Confirm(std::string_view name, std::string_view password);
    // Cancel: both fields emptied, nothing written.
    void Cancel();

    // What the fields are to show now.
    const std::string& Name() const { return name_; }
    const std::string& Password() const { return password_; }

    // Whether typed text fits the password field (8 GBK bytes).
    static bool PasswordFits(std::string_view utf8);

  private:
    const SiteContext& site_;
    std::string name_, password_;
};

}  // namespace qm
