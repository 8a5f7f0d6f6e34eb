#include "tools/backsim/short_message_file.h"

#include <cstdio>

namespace qm::backsim {

std::optional<std::string> FormatShortMessage(int number, int dcbId, std::string_view gbkText) {
    if (number < 0 || number > 255 || dcbId < 0 || dcbId > 255 ||
        gbkText.find_first_of("\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    char head[16];
    std::snprintf(head, sizeof head, "%03d %03d ", number, dcbId);
    return std::string(head) + std::string(gbkText) + "\r\n";
}

}  // namespace qm::backsim
