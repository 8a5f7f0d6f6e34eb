#include "app/command_line.h"

namespace qm {

uint32_t ParseWindowHandle(const char* text) {
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t') ++text;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value >= (1ull << 31))
            return 0;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace qm
