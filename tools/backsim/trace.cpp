#include "tools/backsim/trace.h"

#include <cinttypes>
#include <cstdio>

#include "tools/backsim/text.h"

namespace qm::backsim {

std::string FormatTraceLine(int64_t elapsedMs, std::string_view kind, std::string_view detail) {
    if (elapsedMs < 0) {
        elapsedMs = 0;
    }
    char head[48];
    std::snprintf(head, sizeof head, "+%" PRId64 ".%03d %-7.*s ", elapsedMs / 1000,
                  static_cast<int>(elapsedMs % 1000), static_cast<int>(kind.size()), kind.data());
    return std::string(head) + std::string(detail);
}

std::string DescribeExchange(std::string_view fileName, std::string_view header,
                             const std::vector<std::string>& lines) {
    char head[32];
    std::snprintf(head, sizeof head, "%-7.*s ", static_cast<int>(fileName.size()), fileName.data());
    std::string out = std::string(head) + GbkForDisplay(header);
    for (const std::string& line : lines) {
        out += " | " + GbkForDisplay(line);
    }
    return out;
}

}  // namespace qm::backsim
