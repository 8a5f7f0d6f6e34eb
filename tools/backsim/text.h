// Small text helpers shared by the back-end simulator's file formats.
//
// The back-end's files are GBK bytes. People who write the simulator's own
// tables (replies.txt, users.txt) and type its commands use UTF-8 editors and
// terminals, so such text is converted to GBK when it is valid UTF-8; what is
// not valid UTF-8 is taken as GBK already.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/common/words.h"

namespace qm::backsim {

// UTF-8 text converted to GBK; text that is not UTF-8 (or has no GBK form)
// unchanged. ASCII is the same in both.
std::string ToGbk(std::string_view text);

// GBK bytes shown as UTF-8 for a trace line: every byte that does not decode
// is shown as '?', and control characters as '.', so a trace line stays one
// line whatever a file holds.
std::string GbkForDisplay(std::string_view gbk);

// The first place of the ASCII character c in GBK text at or after `from`,
// stepping over double-byte characters whole (their second byte may be any
// of 0x40..0xFE, '{', '|' and '}' among them); npos when there is none.
size_t FindInGbk(std::string_view gbk, char c, size_t from = 0);

// The lines of a text, each without its LF or CR LF end; a last line without
// an end counts, an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// The words of a line, separated by runs of blanks.
std::vector<std::string_view> SplitWords(std::string_view line);

}  // namespace qm::backsim
