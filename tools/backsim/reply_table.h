// What the simulated back-end answers to each request code.
//
// Built-in answers cover the common transactions (open a table, order, query
// the bill, ...). TXT/replies.txt in the manager's home overrides them per
// code, one code a line:
//
//   # comment
//   KT|OK 桌号 {1} 开台成功|人数 {2}
//   ZDCX|桌号 {1}|宫保鸡丁 1 28.00|合计 28.00 元
//   GT|
//   *|OK
//
// The name before the first '|' is the code (trailing blanks may be left
// out, letter case does not matter); each further '|' starts one reply line.
// "NAME|" alone gives a reply with no lines (the terminal gets a blank slot).
// "*" sets the answer to every code without an entry of its own (built in:
// one line "OK"). Entries for "DL" (checked against users.txt) and "UNKN"
// (never answered) have no effect. The file may be GBK or UTF-8 (see text.h).
//
// In a reply line, {dcb} stands for the requesting terminal's DCB id (three
// digits) and {1} to {9} for the words of the request's first body line
// (blank-separated; missing words are empty), so that an answer can name the
// table it was asked about.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/backsim/request_file.h"

namespace qm::backsim {

inline constexpr const char* kRepliesFileName = "replies.txt";

class ReplyTable {
  public:
    // The built-in answers.
    ReplyTable();

    // Takes the entries of a replies.txt over the current ones. Each line that
    // is neither blank, nor a comment, nor a valid entry is described in
    // *problems ("line 3: ...").
    void Merge(std::string_view fileText, std::vector<std::string>* problems);

    // The reply lines (GBK) for a request, placeholders filled in.
    std::vector<std::string> Answer(const RequestFile& request) const;

  private:
    std::map<std::string, std::vector<std::string>> entries_;  // by normalised name
    std::vector<std::string> fallback_;
};

// Fills {dcb} and {1}..{9} in a GBK template. Double-byte characters are
// stepped over whole: their second byte may be '{' or '}' (0x7B, 0x7D).
std::string ExpandPlaceholders(std::string_view gbkTemplate, const RequestFile& request);

}  // namespace qm::backsim
