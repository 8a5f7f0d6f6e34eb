// What the soak reads off the manager: its program folder, what its log
// says about replies, and its packet log decoded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/soak/ledger.h"

namespace qm::soak {

// The manager's program folder: a new temporary one, removed at the end
// unless kept, or the one asked for, which is kept.
class ProgramFolder {
  public:
    ProgramFolder() = default;
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;
    ~ProgramFolder();

    bool Make(const std::string& wanted, bool keep, std::string* error);
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file of the folder whole; false when it could not.
    bool Write(const std::string& name, const std::string& text) const;

  private:
    std::string path_;
    bool keep_ = false;
};

std::string ReadAll(const std::string& path);

// What the manager's log says about replies, per host id; counts every log
// text in *texts when given.
ReplyReports ReadReplyReports(const std::string& logPath, std::map<std::string, uint64_t>* texts);

struct PacketLogFigures {
    uint64_t lines = 0;
    uint64_t malformed = 0;
    std::map<std::string, uint64_t> kinds;  // "sent data reply", ...
};

PacketLogFigures DecodePacketLog(const std::string& path);

// Every kind of entry that a soak's traffic makes.
const std::vector<std::string>& ExpectedEntryKinds();

bool HasKind(const PacketLogFigures& f, const std::string& kind);

}  // namespace qm::soak
