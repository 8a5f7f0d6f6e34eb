#include "tools/backsim/script.h"

#include <algorithm>

#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

std::optional<Script> Fail(std::string* error, int line, const std::string& text) {
    if (error) {
        *error = "line " + std::to_string(line) + ": " + text;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Script> ParseScript(std::string_view text, std::string* error) {
    Script script;
    std::optional<ScriptStep> end;
    int number = 0;
    for (const std::string& raw : SplitLines(text)) {
        ++number;
        std::string_view rest = TrimBlanks(raw);
        if (rest.empty() || rest.front() == '#') {
            continue;
        }
        const std::string_view verb = NextWord(rest);
        ScriptStep step;
        step.line = number;
        if (!ParseNumber(NextWord(rest), 0, kMaxScriptMs, &step.atMs)) {
            return Fail(error, number, "expected a time in ms after \"" + std::string(verb) + "\"");
        }
        if (verb == "end") {
            if (!TrimBlanks(rest).empty()) {
                return Fail(error, number, "end takes only a time");
            }
            if (end) {
                return Fail(error, number, "a second end");
            }
            step.command.kind = Command::Kind::kQuit;
            end = step;
            continue;
        }
        if (verb != "at") {
            return Fail(error, number, "expected \"at <ms> <command>\" or \"end <ms>\"");
        }
        std::string problem;
        auto command = ParseCommand(rest, &problem);
        if (!command) {
            return Fail(error, number, problem);
        }
        step.command = std::move(*command);
        script.steps.push_back(std::move(step));
    }
    // The end goes last among the steps of its time: a stable sort keeps it
    // behind them.
    if (end) {
        script.steps.push_back(std::move(*end));
    }
    std::stable_sort(script.steps.begin(), script.steps.end(),
                     [](const ScriptStep& a, const ScriptStep& b) { return a.atMs < b.atMs; });
    return script;
}

}  // namespace qm::backsim
