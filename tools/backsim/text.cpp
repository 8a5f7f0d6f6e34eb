#include "tools/backsim/text.h"

#include <cerrno>

#include "platform/gbk.h"

namespace qm::backsim {
namespace {

// Printable ASCII as it is; everything else of the ASCII range as '.'.
char DisplayAscii(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F ? '.' : c;
}

}  // namespace

std::string ToGbk(std::string_view text) {
    std::string gbk;
    if (Utf8ToGbk(text, &gbk)) {
        return gbk;
    }
    return std::string(text);
}

std::string GbkForDisplay(std::string_view gbk) {
    std::string out;
    TextConverter decoder("UTF-8", "GBK");
    if (!decoder.Valid()) {
        for (char c : gbk) {
            out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
        }
    } else {
        const char* in = gbk.data();
        size_t inLeft = gbk.size();
        char buffer[256];
        while (inLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const bool taken = decoder.Convert(&in, &inLeft, &dst, &dstLeft);
            out.append(buffer, sizeof buffer - dstLeft);
            if (taken || errno == E2BIG) {
                continue;
            }
            // A byte that starts no character, or a character cut off at the
            // end: one '?' for the byte, and the rest of the line still reads.
            out += '?';
            ++in;
            --inLeft;
            decoder.Reset();
        }
    }
    // Control bytes never occur inside a UTF-8 sequence.
    for (char& c : out) {
        c = DisplayAscii(c);
    }
    return out;
}

size_t FindInGbk(std::string_view gbk, char c, size_t from) {
    size_t i = from;
    while (i < gbk.size()) {
        const auto u = static_cast<unsigned char>(gbk[i]);
        if (u >= 0x81 && u <= 0xFE && i + 1 < gbk.size()) {
            i += 2;
            continue;
        }
        if (gbk[i] == c) {
            return i;
        }
        ++i;
    }
    return std::string_view::npos;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::string_view word = NextWord(line); !word.empty(); word = NextWord(line)) {
        words.push_back(word);
    }
    return words;
}

}  // namespace qm::backsim
