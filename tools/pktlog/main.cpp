// qm-pktlog: turns a packet log (QMPktLog.txt) into a readable timeline, one
// line per entry, for diagnosing a site's radio traffic.
//   qm-pktlog [FILE]     FILE, or standard input when it is absent or "-"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/version.h"
#include "tools/pktlog/decode.h"

namespace {

// Exit statuses: every line read as an entry; some lines did not (each one
// named on standard error, the rest decoded all the same); the command line,
// the file or the output failed.
constexpr int kAllRead = 0;
constexpr int kMalformedLines = 1;
constexpr int kTrouble = 2;

constexpr char kUsage[] =
    "usage: qm-pktlog [OPTION] [FILE]\n"
    "Reads a packet log (QMPktLog.txt, written by qm at DebugLevel 4) from FILE,\n"
    "or from standard input when FILE is absent or -, and prints one timeline\n"
    "line per entry: milliseconds since the entry before, wall-clock time,\n"
    "station (host id:port), direction, terminal, frame kind and what it means,\n"
    "with frame text shown as UTF-8 and bytes that are no GBK text in hex.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             take the next argument as FILE even if it starts with -\n"
    "\n"
    "Exit status: 0 every line read, 1 some lines malformed (each is named on\n"
    "standard error, the others are decoded), 2 a usage, read or write error.\n";

bool Write(std::FILE* to, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), to) == text.size();
}

int Usage(const char* complaint, const char* argument) {
    std::fprintf(stderr, "qm-pktlog: %s%s\n", complaint, argument);
    std::fputs(kUsage, stderr);
    return kTrouble;
}

// Malformed reports go to standard error too, each named as this program's.
void Complain(const std::string& reports) {
    std::string_view rest = reports;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::fprintf(stderr, "qm-pktlog: %.*s\n", static_cast<int>(rest.substr(0, end).size()),
                     rest.data());
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsDone && (arg == "-h" || arg == "--help")) {
            std::fputs(kUsage, stdout);
            return kAllRead;
        }
        if (!optionsDone && (arg == "-V" || arg == "--version")) {
            std::printf("qm-pktlog %s\n", qm::kVersion);
            return kAllRead;
        }
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option ", argv[i]);
        } else if (path != nullptr) {
            return Usage("more than one file: ", argv[i]);
        } else {
            path = argv[i];
        }
    }
    const bool useStdin = path == nullptr || std::strcmp(path, "-") == 0;
    std::FILE* in = useStdin ? stdin : std::fopen(path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "qm-pktlog: cannot open %s: %s\n", path, std::strerror(errno));
        return kTrouble;
    }

    qm::pktlog::LogDecoder decoder;
    std::string out;
    std::string malformed;
    char chunk[64 * 1024];
    bool ok = true;
    size_t got;
    while (ok && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        decoder.Feed({chunk, got}, out, &malformed);
        ok = Write(stdout, out);
        Complain(malformed);
        out.clear();
        malformed.clear();
    }
    const bool readFailed = std::ferror(in) != 0;
    decoder.Finish(out, &malformed);
    ok = ok && Write(stdout, out) && std::fflush(stdout) == 0;
    Complain(malformed);
    if (!useStdin)
        std::fclose(in);
    if (readFailed)
        std::fputs("qm-pktlog: read error\n", stderr);
    if (!ok && !readFailed)
        std::fputs("qm-pktlog: cannot write the timeline\n", stderr);
    if (!ok || readFailed)
        return kTrouble;
    if (decoder.MalformedLines() > 0) {
        std::fprintf(stderr, "qm-pktlog: %zu malformed line%s\n", decoder.MalformedLines(),
                     decoder.MalformedLines() == 1 ? "" : "s");
        return kMalformedLines;
    }
    return kAllRead;
}
