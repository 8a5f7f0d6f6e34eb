#include "tools/backsim/request_file.h"

#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<RequestFile> ParseRequestFile(std::string_view bytes) {
    std::vector<std::string> lines = SplitLines(bytes);
    if (lines.empty()) {
        return std::nullopt;
    }
    const std::string& header = lines.front();
    // "NAME DDD": the DCB id stands at 5..7, as "%s %.3d" puts it.
    if (header.size() < 8 || header[4] != ' ' || !IsDigit(header[5]) || !IsDigit(header[6]) ||
        !IsDigit(header[7])) {
        return std::nullopt;
    }
    const int dcb = (header[5] - '0') * 100 + (header[6] - '0') * 10 + (header[7] - '0');
    if (dcb > 255) {
        return std::nullopt;
    }
    RequestFile request;
    request.code = header.substr(0, kCodeNameWidth);
    request.dcbId = static_cast<uint8_t>(dcb);
    lines.erase(lines.begin());
    request.lines = std::move(lines);
    return request;
}

std::string NormaliseCodeName(std::string_view name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
        name.remove_suffix(1);
    }
    if (name.empty() || name.size() > kCodeNameWidth) {
        return {};
    }
    std::string out(name);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    out.resize(kCodeNameWidth, ' ');
    return out;
}

}  // namespace qm::backsim
