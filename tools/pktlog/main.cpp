// qm-pktlog: turns a packet log (QMPktLog.txt) into a readable timeline, one
// line per entry, for diagnosing a site's radio traffic.
//   qm-pktlog [FILE]     FILE, or standard input when it is absent or "-"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pktlog/decode.h"

namespace {

constexpr char kUsage[] =
    "usage: qm-pktlog [FILE]\n"
    "Reads a packet log (FILE, or standard input when FILE is absent or -) and\n"
    "prints one timeline line per entry.\n";

bool Write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 ||
        (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
        std::fputs(kUsage, argc > 2 ? stderr : stdout);
        return argc > 2 ? 2 : 0;
    }
    const bool useStdin = argc == 1 || std::strcmp(argv[1], "-") == 0;
    std::FILE* in = useStdin ? stdin : std::fopen(argv[1], "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "qm-pktlog: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }

    qm::pktlog::LogDecoder decoder;
    std::string out;
    char chunk[64 * 1024];
    bool ok = true;
    size_t got;
    while (ok && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        decoder.Feed({chunk, got}, out);
        ok = Write(out);
        out.clear();
    }
    const bool readFailed = std::ferror(in) != 0;
    decoder.Finish(out);
    ok = ok && Write(out) && std::fflush(stdout) == 0;
    if (!useStdin)
        std::fclose(in);
    if (readFailed)
        std::fputs("qm-pktlog: read error\n", stderr);
    return ok && !readFailed ? 0 : 1;
}
