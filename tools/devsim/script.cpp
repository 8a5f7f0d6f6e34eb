#include "tools/devsim/script.h"

#include <algorithm>
#include <charconv>
#include <climits>

#include "tools/common/words.h"

namespace qm::devsim {

namespace {

// Ten days: far beyond any demo, small enough to add to a clock safely.
constexpr int64_t kMaxTimeMs = 10LL * 24 * 3600 * 1000;

bool ParseTime(std::string_view word, int64_t& out) {
    int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || ptr != word.data() + word.size() || value < 0 || value > kMaxTimeMs) {
        return false;
    }
    out = value;
    return true;
}

bool ParseByte(std::string_view word, uint8_t& out) {
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (word.empty() || ec != std::errc() || ptr != word.data() + word.size() || value > 255) {
        return false;
    }
    out = static_cast<uint8_t>(value);
    return true;
}

bool ParseCount(std::string_view word, uint32_t limit, uint32_t& out) {
    uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || ec != std::errc() || ptr != word.data() + word.size() || value > limit) {
        return false;
    }
    out = value;
    return true;
}

bool ParseOnOff(std::string_view word, bool& on, std::string& why) {
    if (word != "on" && word != "off") {
        why = "expected on or off";
        return false;
    }
    on = word == "on";
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Hex digit pairs, blanks allowed between pairs.
bool ParseHex(std::string_view text, Bytes& out) {
    out.clear();
    for (;;) {
        const size_t at = text.find_first_not_of(kBlanks);
        if (at == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(at);
        if (text.size() < 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(HexDigit(text[0]) * 16 + HexDigit(text[1])));
        text.remove_prefix(2);
    }
}

bool ParsePayload(std::string_view rest, Bytes& out, std::string& why) {
    const std::string_view text = TrimBlanks(rest);
    if (text.starts_with("hex:")) {
        if (!ParseHex(text.substr(4), out)) {
            why = "hex data needs pairs of hexadecimal digits";
            return false;
        }
    } else {
        out.assign(text.begin(), text.end());
    }
    if (out.size() > kMaxFragments * kFragmentSize) {
        why = "request data longer than a terminal can send";
        return false;
    }
    if (std::any_of(out.begin(), out.end(),
                    [](uint8_t b) { return b == kFrameStart || b == kFrameEnd; })) {
        why = "request data holds a frame marker (0x00 or 0xFF)";
        return false;
    }
    return true;
}

// Parses one non-comment line into `steps` or `script.endMs`.
bool ParseLine(std::string_view rest, int lineNumber, Script& script, std::string& why) {
    const std::string_view keyword = NextWord(rest);
    if (keyword == "end") {
        int64_t at = 0;
        if (!ParseTime(NextWord(rest), at) || !TrimBlanks(rest).empty()) {
            why = "expected: end <ms>";
            return false;
        }
        script.endMs = at;
        return true;
    }
    if (keyword != "at") {
        why = "a line starts with \"at\" or \"end\"";
        return false;
    }
    ScriptStep step;
    step.line = lineNumber;
    if (!ParseTime(NextWord(rest), step.atMs)) {
        why = "bad time";
        return false;
    }
    const std::string_view action = NextWord(rest);
    if (!ParseByte(NextWord(rest), step.host) || !ParseByte(NextWord(rest), step.dcb)) {
        why = "expected <host> <dcb> as numbers 0..255";
        return false;
    }
    if (action == "request") {
        step.action = ScriptStep::Action::kRequest;
        if (!ParseByte(NextWord(rest), step.command)) {
            why = "expected a command 0..255";
            return false;
        }
        if (!ParsePayload(rest, step.payload, why)) {
            return false;
        }
    } else if (action == "clock") {
        step.action = ScriptStep::Action::kClock;
    } else if (action == "silent" || action == "nosearch") {
        step.action =
            action == "silent" ? ScriptStep::Action::kSilent : ScriptStep::Action::kNoSearch;
        if (!ParseOnOff(NextWord(rest), step.on, why)) {
            return false;
        }
    } else if (action == "stopacks") {
        step.action = ScriptStep::Action::kStopAcks;
        const std::string_view lines = NextWord(rest);
        if (lines == "off") {
            step.count = UINT32_MAX;
        } else if (!ParseCount(lines, UINT32_MAX - 1, step.count)) {
            why = "expected a number of lines or off";
            return false;
        }
    } else if (action == "delayechoes") {
        step.action = ScriptStep::Action::kDelayEchoes;
        int64_t delay = 0;
        if (!ParseCount(NextWord(rest), INT_MAX, step.count) || !ParseTime(NextWord(rest), delay)) {
            why = "expected <count> <delay ms>";
            return false;
        }
        step.delayMs = static_cast<uint32_t>(delay);
    } else {
        why = "unknown action \"" + std::string(action) + "\"";
        return false;
    }
    if (step.action != ScriptStep::Action::kRequest && !TrimBlanks(rest).empty()) {
        why = "unexpected words at the end";
        return false;
    }
    script.steps.push_back(std::move(step));
    return true;
}

}  // namespace

std::optional<Script> ParseScript(std::string_view text, std::string& error) {
    Script script;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string_view content = TrimBlanks(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        std::string why;
        if (!ParseLine(content, lineNumber, script, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        }
    }
    std::stable_sort(script.steps.begin(), script.steps.end(),
                     [](const ScriptStep& a, const ScriptStep& b) { return a.atMs < b.atMs; });
    return script;
}

}  // namespace qm::devsim
