// What the soak reads off the manager: its program folder, what its log
// says about replies, and its packet log decoded.
#include "tools/soak/manager_files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "tools/pktlog/decode.h"

namespace qm::soak {
namespace {

namespace fs = std::filesystem;

// The pieces of the manager's log lines that tell what became of a reply.
constexpr char kRefusedText[] = ")SDKGetRxFile Error";
constexpr char kSendErrorText[] = ")Send Error";
constexpr char kDroppedText[] = ")Fragment out of order, dropped";
constexpr char kReplyRefused[] = ")Reply refused";

// The reason of a "Reply refused" line: the words after "Reply refused: "
// or after "Reply refused (KT  ): ", without a code named in brackets.
std::string RefusalReason(const std::string& text) {
    size_t from = text.find(": ");
    if (from == std::string::npos)
        return text;
    std::string reason = text.substr(from + 2);
    const size_t bracket = reason.find(" (");
    return bracket == std::string::npos ? reason : reason.substr(0, bracket);
}

uint8_t DcbIdOf(const std::string& line, size_t at) {
    const size_t id = line.find("DCBID ", at);
    return id == std::string::npos ? 255 : static_cast<uint8_t>(std::atoi(line.c_str() + id + 6));
}

// The entry kind of one timeline line: direction, frame kind and, for
// control and data frames, what the command means on that road.
std::string EntryKind(const std::string& line) {
    std::istringstream in(line);
    // The milliseconds, the wall-clock date and time and the station come
    // before the direction.
    std::string time, date, clock, station, direction, dcb, id, kind;
    in >> time >> date >> clock >> station >> direction >> dcb >> id >> kind;
    std::string out = direction + " " + kind;
    if (kind == "error")
        return out;
    if (kind != "control" && kind != "data")
        return out;
    std::string command;
    in >> command;
    std::string meaning;
    std::getline(in, meaning);
    meaning = meaning.substr(0, meaning.find(','));
    const size_t first = meaning.find_first_not_of(' ');
    return out + " " + (first == std::string::npos ? "" : meaning.substr(first));
}

}  // namespace

bool ProgramFolder::Make(const std::string& wanted, bool keep, std::string* error) {
    keep_ = keep || !wanted.empty();
    if (wanted.empty()) {
        std::string pattern = (fs::temp_directory_path() / "qmsoak-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            *error = "cannot make a folder in " + fs::temp_directory_path().string();
            return false;
        }
        path_ = pattern;
    } else {
        path_ = fs::absolute(wanted).string();
    }
    std::error_code ec;
    fs::create_directories(path_ + "/TXT/Swap", ec);
    fs::create_directories(path_ + "/run", ec);
    if (ec || chmod((path_ + "/run").c_str(), 0700) != 0) {
        *error = "cannot prepare " + path_;
        return false;
    }
    return true;
}

ProgramFolder::~ProgramFolder() {
    std::error_code ec;
    if (!path_.empty() && !keep_)
        fs::remove_all(path_, ec);
}

bool ProgramFolder::Write(const std::string& name, const std::string& text) const {
    std::ofstream f(*this / name, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

// The manager's log of a long run is some tens of megabytes.
std::string ReadLog(const std::string& path) {
    return ReadWholeFile(path, size_t{1} << 30).value_or("");
}

// What the manager's log says about replies, per host id.
ReplyReports ReadReplyReports(const std::string& logPath, std::map<std::string, uint64_t>* texts) {
    ReplyReports r;
    std::istringstream in(ReadLog(logPath));
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find("(HostID ");
        const size_t close = line.find(')', at == std::string::npos ? 0 : at);
        if (at == std::string::npos || close == std::string::npos)
            continue;
        const auto host = static_cast<uint8_t>(std::atoi(line.c_str() + at + 8));
        std::string text = line.substr(close);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        if (texts)
            ++(*texts)[text.substr(1)];
        if (text == kRefusedText)
            ++r.refused[host];
        if (text == kSendErrorText)
            ++r.sendErrors[host];
        if (text == kDroppedText)
            ++r.fragmentsDropped[{host, DcbIdOf(line, at)}];
        if (text.rfind(kReplyRefused, 0) == 0) {
            ++r.refusedFor[{host, DcbIdOf(line, at)}];
            ++r.refusalReasons[RefusalReason(text)];
        }
    }
    return r;
}

PacketLogFigures DecodePacketLog(const std::string& path) {
    PacketLogFigures f;
    std::ifstream in(path, std::ios::binary);
    pktlog::LogDecoder decoder;
    std::string out;
    const auto take = [&] {
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            ++f.lines;
            if (line.find(": malformed, ") != std::string::npos)
                ++f.malformed;
            else
                ++f.kinds[EntryKind(line)];
        }
        out.clear();
    };
    std::vector<char> chunk(1 << 16);
    while (in.read(chunk.data(), static_cast<long>(chunk.size())) || in.gcount() > 0) {
        decoder.Feed({chunk.data(), static_cast<size_t>(in.gcount())}, out);
        take();
    }
    decoder.Finish(out);
    take();
    return f;
}

// Every kind of entry that a soak's traffic makes.
const std::vector<std::string>& ExpectedEntryKinds() {
    static const std::vector<std::string> kinds = {
        "sent beacon",
        "received beacon",
        "sent control ack",
        "received control ack",
        "sent control beacon",  // short message waiting
        "received control request",
        "received control clock request",
        "received control page forward",
        "sent data reply",
        "sent data short message",
        "sent data clock and title",
        "received data request",
    };
    return kinds;
}

bool HasKind(const PacketLogFigures& f, const std::string& kind) {
    for (const auto& [k, n] : f.kinds)
        if (k.rfind(kind, 0) == 0)
            return true;
    return false;
}

}  // namespace qm::soak
