// Blank-separated words, as the simulators' scripts, tables and commands
// are written: blanks are spaces and tabs.
#pragma once

#include <cstddef>
#include <string_view>

namespace qm {

inline constexpr std::string_view kBlanks = " \t";

// Text without leading and trailing blanks.
inline std::string_view TrimBlanks(std::string_view text) {
    const size_t start = text.find_first_not_of(kBlanks);
    if (start == std::string_view::npos)
        return {};
    const size_t end = text.find_last_not_of(kBlanks);
    return text.substr(start, end - start + 1);
}

// Takes the next blank-separated word off the front of `rest`; empty when
// only blanks are left.
inline std::string_view NextWord(std::string_view& rest) {
    const size_t start = rest.find_first_not_of(kBlanks);
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const size_t end = rest.find_first_of(kBlanks);
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

}  // namespace qm
