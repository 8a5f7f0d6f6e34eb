#include "tools/backsim/reply_file.h"

#include <algorithm>
#include <cstdio>

#include "tools/backsim/request_file.h"

namespace qm::backsim {

std::string ReplyHeader(std::string_view code, uint8_t dcbId) {
    std::string name(code.substr(0, kCodeNameWidth));
    name.resize(kCodeNameWidth, ' ');
    char dcb[8];
    std::snprintf(dcb, sizeof dcb, " %03u", static_cast<unsigned>(dcbId));
    return name + dcb;
}

std::string FormatReplyFile(std::string_view code, uint8_t dcbId,
                            const std::vector<std::string>& lines) {
    std::string out = ReplyHeader(code, dcbId) + "\r\n";
    for (const std::string& line : lines) {
        for (char c : line) {
            out += c == '\r' || c == '\n' ? ' ' : c;
        }
        out += "\r\n";
    }
    return out;
}

size_t ReplySlots(const std::vector<std::string>& lines) {
    constexpr size_t kSlot = 20;
    // The manager reads at most 259 bytes of a line at a time; a longer line
    // comes out as several pieces, each starting on a slot of its own.
    constexpr size_t kPiece = 259;
    size_t slots = 0;
    for (const std::string& line : lines) {
        for (size_t at = 0; at < line.size(); at += kPiece) {
            const size_t n = std::min(kPiece, line.size() - at);
            slots += (n - 1) / kSlot + 1;
        }
    }
    return slots;
}

}  // namespace qm::backsim
