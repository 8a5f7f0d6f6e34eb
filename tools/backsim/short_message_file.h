// DX.txt: a short message for one terminal, which the back-end writes before
// it posts notice 0. The manager reads one line and deletes the file:
//
//   001 012 text<CR><LF>     message number, DCB id (three digits each), text
//
// The manager keeps at most 40 bytes of the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::backsim {

inline constexpr const char* kShortMessageFileName = "DX.txt";
inline constexpr size_t kShortMessageTextBytes = 40;

// The file's line for the message. nullopt when a number is outside 0..255
// (the manager reads each into 8 bits) or the GBK text holds a line end.
std::optional<std::string> FormatShortMessage(int number, int dcbId, std::string_view gbkText);

}  // namespace qm::backsim
