// Letter case of ASCII names: the back-end's names (files, profile sections
// and keys) match whatever the case of their ASCII letters; other bytes,
// GBK ones included, must be equal.
#pragma once

#include <cstddef>
#include <string_view>

namespace qm {

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

}  // namespace qm
