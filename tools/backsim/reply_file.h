// The reply file R<host id>.txt that the back-end writes for the manager.
//
//   KT   007<CR><LF>      header: the request's code name and DCB id
//   OK 桌号 0012<CR><LF>   body: text lines (GBK); the manager gives each line
//                          one or more 20-byte slots on the terminal's screen
//
// The manager accepts a reply only when its header names the code and DCB id
// of the most recent request it filed, of whatever station.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::backsim {

// The whole file. The code name is padded with blanks (or cut) to four
// characters; a CR or LF inside a line would split it in two on the
// manager's side, so each is written as a blank.
std::string FormatReplyFile(std::string_view code, uint8_t dcbId,
                            const std::vector<std::string>& lines);

// The header alone, without its line end: "KT   007".
std::string ReplyHeader(std::string_view code, uint8_t dcbId);

// The number of 20-byte slots the manager fills with these lines: empty
// lines are skipped, a line of n bytes takes (n - 1) / 20 + 1 slots (taken
// per 259-byte piece, the most the manager reads of a line at once).
size_t ReplySlots(const std::vector<std::string>& lines);

}  // namespace qm::backsim
