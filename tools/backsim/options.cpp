#include "tools/backsim/options.h"

#include "tools/backsim/command.h"

namespace qm::backsim {
namespace {

constexpr int64_t kMaxCloseTimeoutMs = 600000;

std::optional<Options> Fail(std::string* error, std::string text) {
    if (error) {
        *error = std::move(text);
    }
    return std::nullopt;
}

}  // namespace

const char* UsageText() {
    return "usage: qm-backsim --home DIR --qm PATH [--script FILE] [--trace] [--close-timeout MS]\n"
           "       qm-backsim --help | --version\n";
}

const char* HelpText() {
    return "\n"
           "Stands in for the restaurant's POS back-end: starts the manager PATH with\n"
           "its own window handle and QM_HOME=DIR, answers its requests from\n"
           "DIR/TXT/replies.txt (else built-in answers; the format is in\n"
           "tools/backsim/reply_table.h), checks logons against DIR/TXT/users.txt\n"
           "(\"name password\" a line), and takes commands from FILE and from\n"
           "standard input:\n"
           "  sms <number> <dcb> <text> | open | notice <n> | close | quit\n"
           "  hold-replies on|off | reply-delay <ms> | stale-reply <host>\n"
           "\n"
           "  --home DIR            the manager's program folder (required)\n"
           "  --qm PATH             the manager program to start (required)\n"
           "  --script FILE         commands at times: \"at <ms> <command>\" or\n"
           "                        \"end <ms>\", counted from the manager's first notice\n"
           "  --trace               print every exchange: notices, request and reply files\n"
           "  --close-timeout MS    how long the manager may take to close after the\n"
           "                        close event before it gets SIGTERM (default 5000,\n"
           "                        0 to 600000)\n"
           "  --help                this text\n"
           "  --version             the version\n"
           "\n"
           "Exit status: the manager's (128 + signal when a signal ended it); 1 when\n"
           "the manager cannot be started; 2 for bad arguments, script or replies.\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--trace") {
            options.trace = true;
            continue;
        }
        if (arg != "--home" && arg != "--qm" && arg != "--script" && arg != "--close-timeout") {
            return Fail(error, arg.starts_with("-") ? "unknown option " + arg
                                                    : "unexpected argument " + arg);
        }
        if (i + 1 >= args.size()) {
            return Fail(error, arg + " needs a value");
        }
        const std::string& value = args[++i];
        if (arg == "--home") {
            options.home = value;
        } else if (arg == "--qm") {
            options.manager = value;
        } else if (arg == "--script") {
            options.scriptPath = value;
        } else if (!ParseNumber(value, 0, kMaxCloseTimeoutMs, &options.closeTimeoutMs)) {
            return Fail(error, "--close-timeout takes milliseconds, 0 to 600000");
        }
    }
    if (options.home.empty() || options.manager.empty()) {
        return Fail(error, "--home and --qm are required");
    }
    while (options.home.size() > 1 && options.home.back() == '/') {
        options.home.pop_back();
    }
    return options;
}

}  // namespace qm::backsim
