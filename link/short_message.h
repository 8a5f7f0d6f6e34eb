// Short messages for terminals: each terminal's file TXT/Swap/DX_<dcb> holds
// the messages waiting for it, oldest first, and the link announces them with
// its beacons and delivers them one by one.
//
// A record is one byte, the message number taken as it is, then the text up
// to CR LF. The file is read by records, not lines, so a message number of 0,
// 10 or 13 (NUL, LF, CR) can never split or hide a record. Texts are cut at
// their first CR or LF when queued, so no record holds a line end of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/link_state.h"

namespace qm {

inline constexpr size_t kShortMessageTextMax = 40;

struct ShortMessageRecord {
    uint8_t number = 0;
    std::vector<uint8_t> text;  // without CR LF
    size_t recordBytes = 0;     // size in the file, CR LF included
};

std::string ShortMessagePath(const std::string& swapDir, uint8_t dcbId);

// The first record of a short-message file's contents; none for an empty one.
std::optional<ShortMessageRecord> ParseFirstRecord(const std::vector<uint8_t>& contents);

// The payload delivered to the terminal: the number as three decimal digits,
// then at most 40 bytes of text.
std::vector<uint8_t> ShortMessagePayload(const ShortMessageRecord& record);

// The first record of the DCB id's file; none when the file is missing or
// empty.
std::optional<ShortMessageRecord> FirstShortMessage(const std::string& swapDir, uint8_t dcbId);

// After the first record (recordBytes long) has been delivered: lowers the
// DCB id's pending count and removes the record, or deletes the file when
// the count reaches 0.
void FinishShortMessage(const std::string& swapDir, uint8_t dcbId, std::atomic<uint32_t>& pending,
                        size_t recordBytes);

// SDKSetSMS: appends a record to the terminal's file and raises the DCB id's
// pending count when a station lists it. A record that cannot be written
// whole is cut off again, so the file keeps only whole records.
void QueueShortMessage(Link* link, const std::string& swapDir, uint8_t number, uint8_t dcbId,
                       const uint8_t* text);

// Starts the short-message sender for a terminal unless one is running.
void StartShortMessageSender(Link& link, uint8_t stationPos, uint8_t terminalPos);

}  // namespace qm
