#include "tools/codetable/markdown.h"

#include <cstdint>
#include <numeric>
#include <span>

#include "service/code_table.h"

namespace qm::codetable {
namespace {

// Codes whose request files are not split by widths: how the manager treats
// them, in words. Each matches a converter of service/code_table.cpp (or the
// lack of one) and changes only with it.
std::optional<std::string> SpecialRequest(uint8_t code) {
    switch (code) {
        case kCodeClock:
            return std::string("none: the manager answers a terminal's clock request itself");
        case kCodeRecordBlock:
            return std::string(
                "40-byte blocks, one line each: 7 (table, from the first block), 5, 4, 12, 2, 1, "
                "3 (hour, minute, second as bytes, written `HH:MM:SS`), 4, 2");
        case kCodeShortMessage:
            return std::string("3, 20; or 4 bytes, a 3-byte number and a byte n, written `NNN 0n`");
        default:
            return std::nullopt;
    }
}

std::string Widths(std::span<const uint8_t> widths) {
    std::string out;
    for (const uint8_t w : widths) {
        if (!out.empty())
            out += ", ";
        out += std::to_string(w);
    }
    return out;
}

}  // namespace

std::string CodeTableMarkdown() {
    std::string out =
        "| Code | Name | Request fields (bytes, in order) | Record bytes |\n"
        "|---|---|---|---|\n";
    for (size_t code = 0; code < kCodeCount; ++code) {
        const auto c = static_cast<uint8_t>(code);
        const char* name = CodeName(c);
        if (name == nullptr)
            continue;
        const std::span<const uint8_t> widths = CodeFieldWidths(c);
        std::string fields;
        std::string total;
        if (const auto special = SpecialRequest(c)) {
            fields = *special;
        } else if (widths.empty()) {
            fields = "none: the file is its header alone";
        } else {
            fields = Widths(widths);
            total = std::to_string(std::accumulate(widths.begin(), widths.end(), 0u));
        }
        out += "| " + std::to_string(code) + " | `" + name + "` | " + fields + " | " + total +
               (total.empty() ? "|\n" : " |\n");
    }
    return out;
}

std::optional<std::string_view> FindBlock(std::string_view readme) {
    const auto lineStart = [&](size_t at) { return at == 0 || readme[at - 1] == '\n'; };
    size_t begin = readme.find(kBlockBegin);
    while (begin != std::string_view::npos && !lineStart(begin))
        begin = readme.find(kBlockBegin, begin + 1);
    if (begin == std::string_view::npos)
        return std::nullopt;
    begin += kBlockBegin.size();
    size_t end = readme.find(kBlockEnd, begin);
    while (end != std::string_view::npos && !lineStart(end)) end = readme.find(kBlockEnd, end + 1);
    if (end == std::string_view::npos)
        return std::nullopt;
    return readme.substr(begin, end - begin);
}

std::optional<std::string> ReplaceBlock(std::string_view readme, std::string_view block) {
    const auto old = FindBlock(readme);
    if (!old)
        return std::nullopt;
    const size_t begin = static_cast<size_t>(old->data() - readme.data());
    std::string out(readme.substr(0, begin));
    out += block;
    out += readme.substr(begin + old->size());
    return out;
}

size_t FirstDifferentLine(std::string_view block, std::string_view wanted) {
    if (block == wanted)
        return 0;
    size_t line = 1;
    for (size_t i = 0; i < block.size() && i < wanted.size() && block[i] == wanted[i]; ++i)
        if (block[i] == '\n')
            ++line;
    return line;
}

}  // namespace qm::codetable
