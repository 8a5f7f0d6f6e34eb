#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "platform/ascii_case.h"

namespace qm {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool ReadBounded(const std::string& path, std::string* text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    // Grown as the file is read, up to the bound: a small file costs only
    // its own size.
    text->clear();
    char chunk[4096];
    size_t n;
    while (text->size() < kProfileMaxBytes &&
           (n = std::fread(chunk, 1, std::min(sizeof chunk, kProfileMaxBytes - text->size()), f)) >
               0)
        text->append(chunk, n);
    std::fclose(f);
    return true;
}

}  // namespace

uint32_t LeadingDecimal(std::string_view text, size_t* digits) {
    constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
    uint32_t n = 0;
    size_t count = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        ++count;
        const uint32_t digit = static_cast<uint32_t>(c - '0');
        // Once held at the top, every further digit keeps it there.
        n = n > (kMax - digit) / 10 ? kMax : n * 10 + digit;
    }
    if (digits)
        *digits = count;
    return n;
}

uint32_t ReadProfileInt(const std::string& iniPath, const char* section, const char* key,
                        uint32_t defaultValue) {
    const std::optional<std::string> value = ReadProfileText(iniPath, section, key);
    if (!value || value->empty())
        return defaultValue;
    return LeadingDecimal(*value);
}

std::optional<std::string> ReadProfileText(const std::string& iniPath, const char* section,
                                           const char* key) {
    if (!section || !key)
        return std::nullopt;
    std::string text;
    if (!ReadBounded(iniPath, &text))
        return std::nullopt;

    std::string_view rest(text);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);

    const std::string_view wantSection = Trim(section);
    const std::string_view wantKey = Trim(key);
    bool inSection = false;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            name = Trim(name.substr(0, name.find(']')));
            inSection = EqualIgnoringCase(name, wantSection);
            continue;
        }
        if (!inSection)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        if (!EqualIgnoringCase(Trim(line.substr(0, eq)), wantKey))
            continue;
        return std::string(Trim(line.substr(eq + 1)));
    }
    return std::nullopt;
}

}  // namespace qm
