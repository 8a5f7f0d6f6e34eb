// The master-data files of a download run: the eleven text files the
// back-end keeps in the TXT folder, and the reading of their records.
//
// A file is GBK text with CR LF line ends. Its records are its lines up to
// the end of the file or the first empty line (one whose first byte is CR,
// LF or NUL); nothing after an empty line is sent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/frame_codec.h"
#include "platform/back_end_file.h"

namespace qm::service {

struct MasterDataFile {
    const char* name;         // in the TXT folder
    uint32_t firstLinePause;  // ms after broadcasting the first record
    uint32_t laterLinePause;  // ms after every later record
};

// In download order; file i travels with frame command 3 + i.
extern const std::array<MasterDataFile, kDownloadFileCount> kMasterDataFiles;

// One record as it goes on the air: at most kMaxDownloadText bytes.
struct MasterDataRecord {
    std::array<uint8_t, kMaxDownloadText> text{};
    size_t length = 0;
    bool cut = false;       // the line was longer and was cut
    bool replaced = false;  // 0xFF bytes, which no frame can carry, became '?'

    std::span<const uint8_t> bytes() const { return {text.data(), length}; }
};

// The records of one open file, in order.
class MasterDataReader {
  public:
    // Null file: no records.
    explicit MasterDataReader(FileHandle file) : file_(std::move(file)) {}
    bool IsOpen() const { return file_ != nullptr; }
    // The next record; nullopt at the end of the file or at an empty line.
    // A line is one record however long it is: its text ends at its first
    // CR, LF or NUL after the first byte and is cut to the frame's room at
    // the last whole GBK character.
    std::optional<MasterDataRecord> Next();

  private:
    FileHandle file_;
    bool ended_ = false;
};

// Opens master-data file i of txtDir; an unopened reader when it is missing.
MasterDataReader OpenMasterData(const std::string& txtDir, size_t fileIndex);

// The longest prefix of text, at most limit bytes, that ends on a whole GBK
// character: a byte below 0x80 is one character, a byte 0x81..0xFE leads a
// two-byte one.
size_t GbkFit(std::span<const uint8_t> text, size_t limit);

}  // namespace qm::service
