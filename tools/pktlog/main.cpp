// qm-pktlog: prints a packet log as a readable timeline.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version.h"
#include "tools/pktlog/decode.h"
#include "tools/pktlog/wall_clock.h"

namespace {

// Exit statuses: every line read as an entry; some lines did not (each one
// named on standard error, the rest decoded all the same); the command line,
// the file or the output failed.
constexpr int kAllRead = 0;
constexpr int kMalformedLines = 1;
constexpr int kTrouble = 2;

// Standard input has no modification time and cannot be read twice: with
// --end it is held whole, up to this much.
constexpr size_t kMaxHeldInput = size_t{1} << 30;
constexpr size_t kChunk = 64 * 1024;

constexpr char kUsage[] =
    "usage: qm-pktlog [OPTION]... [FILE]\n"
    "Reads a packet log (QMPktLog.txt, written by qm at DebugLevel 4) from FILE,\n"
    "or from standard input when FILE is absent or -, and prints one timeline\n"
    "line per entry: milliseconds since the entry before, wall-clock time,\n"
    "station (host id:port), direction, terminal, frame kind and what it means,\n"
    "with frame text shown as UTF-8 and bytes that are no GBK text in hex.\n"
    "\n"
    "  --site DIR     the program folder whose TXT/点菜机.TXT and TXT/基站.TXT\n"
    "                 give each terminal's station; default: the folder of FILE\n"
    "                 when it holds a TXT folder\n"
    "  --end TIME     the local time the log's last line was written,\n"
    "                 \"YYYY-MM-DD HH:MM:SS[.mmm]\"; default: FILE's modification\n"
    "                 time. Every earlier line is that time less the intervals\n"
    "                 after it\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             take the next argument as FILE even if it starts with -\n"
    "\n"
    "A column that cannot be known shows -: the station of a frame that names\n"
    "no terminal or one the site does not list (? when listed at more than one\n"
    "station), the time of standard input without --end.\n"
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

struct Options {
    const char* path = nullptr;
    const char* site = nullptr;
    const char* end = nullptr;
};

// The folder of a file's path, "." for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Feeds up to `limit` bytes of `in` to `onChunk`; false on a read error.
template <typename OnChunk>
bool ReadChunks(std::FILE* in, uint64_t limit, OnChunk onChunk) {
    std::vector<char> chunk(kChunk);
    while (limit > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(limit, chunk.size()));
        const size_t got = std::fread(chunk.data(), 1, want, in);
        if (got == 0)
            break;
        limit -= got;
        if (!onChunk(std::string_view(chunk.data(), got)))
            return true;
    }
    return std::ferror(in) == 0;
}

class Output {
  public:
    explicit Output(const qm::pktlog::Columns& columns) : decoder_(columns) {}
    // False once the timeline could not be written.
    bool Feed(std::string_view chunk) {
        decoder_.Feed(chunk, out_, &malformed_);
        return Flush();
    }
    bool Finish() {
        decoder_.Finish(out_, &malformed_);
        return Flush() && std::fflush(stdout) == 0;
    }
    size_t MalformedLines() const { return decoder_.MalformedLines(); }
    bool Ok() const { return ok_; }

  private:
    bool Flush() {
        ok_ = ok_ && Write(stdout, out_);
        Complain(malformed_);
        out_.clear();
        malformed_.clear();
        return ok_;
    }

    qm::pktlog::LogDecoder decoder_;
    std::string out_;
    std::string malformed_;
    bool ok_ = true;
};

// Decodes `in`; kAllRead, kMalformedLines or kTrouble.
int Decode(std::FILE* in, bool isStdin, qm::pktlog::Columns columns, bool wantTime) {
    struct stat st {};
    const bool regular = fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode);
    // A pipe's modification time says nothing of its lines.
    if (!regular && !columns.lastLineMs)
        wantTime = false;
    bool readOk = true;
    std::optional<std::string> held;  // the whole log, when it cannot be read twice
    uint64_t limit = UINT64_MAX;
    if (wantTime && regular) {
        // Both passes read the bytes there were at this time; lines the
        // manager appends meanwhile are after the modification time.
        limit = static_cast<uint64_t>(st.st_size);
        if (!columns.lastLineMs)
            columns.lastLineMs =
                static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        qm::pktlog::IntervalSum sum;
        readOk = ReadChunks(in, limit, [&](std::string_view c) {
            sum.Feed(c);
            return true;
        });
        sum.Finish();
        columns.totalIntervalMs = sum.Total();
        if (readOk && std::fseek(in, 0, SEEK_SET) != 0)
            readOk = false;
    } else if (wantTime) {
        held.emplace();
        bool tooLong = false;
        readOk = ReadChunks(in, UINT64_MAX, [&](std::string_view c) {
            tooLong = held->size() + c.size() > kMaxHeldInput;
            if (!tooLong)
                held->append(c);
            return !tooLong;
        });
        if (tooLong) {
            std::fprintf(stderr, "qm-pktlog: %s holds more than %zu MiB; give the log as a file\n",
                         isStdin ? "standard input" : "the log", kMaxHeldInput >> 20);
            return kTrouble;
        }
        qm::pktlog::IntervalSum sum;
        sum.Feed(*held);
        sum.Finish();
        columns.totalIntervalMs = sum.Total();
    }

    Output output(columns);
    if (readOk && held) {
        for (size_t at = 0; at < held->size() && output.Ok(); at += kChunk)
            output.Feed(std::string_view(*held).substr(at, kChunk));
    } else if (readOk) {
        readOk = ReadChunks(in, limit, [&](std::string_view c) { return output.Feed(c); });
    }
    const bool written = output.Finish();
    if (!readOk)
        std::fputs("qm-pktlog: read error\n", stderr);
    else if (!written)
        std::fputs("qm-pktlog: cannot write the timeline\n", stderr);
    if (!readOk || !written)
        return kTrouble;
    if (output.MalformedLines() > 0) {
        std::fprintf(stderr, "qm-pktlog: %zu malformed line%s\n", output.MalformedLines(),
                     output.MalformedLines() == 1 ? "" : "s");
        return kMalformedLines;
    }
    return kAllRead;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
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
        if (!optionsDone && (arg == "--site" || arg == "--end")) {
            if (i + 1 >= argc)
                return Usage("missing value of ", argv[i]);
            (arg == "--site" ? options.site : options.end) = argv[++i];
        } else if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option ", argv[i]);
        } else if (options.path != nullptr) {
            return Usage("more than one file: ", argv[i]);
        } else {
            options.path = argv[i];
        }
    }

    qm::pktlog::Columns columns;
    if (options.end != nullptr) {
        columns.lastLineMs = qm::pktlog::ParseLocalTime(options.end);
        if (!columns.lastLineMs)
            return Usage("not a time \"YYYY-MM-DD HH:MM:SS[.mmm]\": ", options.end);
    }
    const bool isStdin = options.path == nullptr || std::strcmp(options.path, "-") == 0;
    std::optional<qm::pktlog::StationMap> stations;
    if (options.site != nullptr) {
        stations = qm::pktlog::StationMap::Load(options.site);
        if (!stations) {
            std::fprintf(stderr, "qm-pktlog: no TXT folder in %s\n", options.site);
            return kTrouble;
        }
    } else if (!isStdin) {
        // The manager writes its packet log in its current folder, which is
        // normally its program folder.
        stations = qm::pktlog::StationMap::Load(FolderOf(options.path));
    }
    if (stations)
        columns.stations = &*stations;

    std::FILE* in = isStdin ? stdin : std::fopen(options.path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "qm-pktlog: cannot open %s: %s\n", options.path, std::strerror(errno));
        return kTrouble;
    }
    const bool wantTime = !isStdin || columns.lastLineMs.has_value();
    const int status = Decode(in, isStdin, columns, wantTime);
    if (!isStdin)
        std::fclose(in);
    return status;
}
