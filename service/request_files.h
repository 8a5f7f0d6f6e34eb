// Request and reply files: how a terminal's request reaches the back-end as
// TXT/T<host>.txt and how its reply comes back from TXT/R<host>.txt.
//
// The last-request memory ties a reply to its request: for every station
// (host id) and terminal (DCB id) it keeps the code of that terminal's most
// recent request. A reply is accepted when its header names a terminal of
// the station whose most recent request had the header's code. Terminals of
// one station and of different stations are answered independently, so a
// slow back-end never loses one terminal's confirmation to another's order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/window_message.h"

namespace qm {

// Posts the notice of a request file just written: WM_POS_NOTICE with
// lParam = the host id, to the back-end. False when it was not posted; errno
// ENOBUFS when an outbox refused it for being full, which it has logged.
using RequestNoticePost = std::function<bool(uint8_t hostId)>;

// Writes the request file and posts its notice with `post`. When the file
// cannot be written whole, nothing is posted and the last-request memory
// keeps its values. Returns whether the file was written.
bool WriteRequestFile(const std::string& txtDir, const RequestNoticePost& post, uint8_t hostId,
                      uint8_t dcbId, uint8_t code, std::span<const uint8_t> data);
// The same, posting to the window itself: for a caller on a thread of its
// own (the exported SDKSaveTxFile), whose post waits up to a second for a
// window whose queue is full.
bool WriteRequestFile(const std::string& txtDir, WindowHandle window, uint8_t hostId, uint8_t dcbId,
                      uint8_t code, std::span<const uint8_t> data);

// The request file's contents for a request: the 10-byte header, then the
// converted record when the code has a converter that accepts it.
std::string FormatRequestFile(uint8_t dcbId, uint8_t code, std::span<const uint8_t> data);

// Why a reply file was not taken.
enum class ReplyRefusal : uint8_t {
    kNone,              // accepted
    kFileMissing,       // no R<host>.txt
    kUnreadableHeader,  // empty, or its name is no transaction's
    kShortMessage,      // "DX  ": short messages go through DX.txt, never a reply
    kNoRequest,         // the terminal it names has asked nothing
    kOtherCode,         // the terminal it names asked another code last
};

// The words the log line of a refusal gives for its reason, after
// "Reply refused: " or after the header's name ("Reply refused (KT  ): ").
const char* ReplyRefusalText(ReplyRefusal refusal);

struct ReplyResult {
    uint8_t code = 0;
    uint8_t dcbId = 0;
    uint32_t length = 0;
    ReplyRefusal refusal = ReplyRefusal::kNone;
};

// Reads the reply file of the host into data (capacity bytes), in 20-byte
// slots. Returns 1 when it answers the most recent request of the terminal
// it names. On refusal the data is untouched, out->length is 0, out->refusal
// says why (and a log line names it), and out->code and out->dcbId hold what
// the header names when it could be read. Lines that would run past the
// capacity are not taken.
int ReadReplyFile(const std::string& txtDir, uint8_t hostId, uint8_t* data, size_t capacity,
                  ReplyResult* out);

// The last-request memory: cleared when the service starts.
void ResetLastRequests();
// The code of the terminal's most recent request on that station, if any.
std::optional<uint8_t> LastRequestCode(uint8_t hostId, uint8_t dcbId);
// The DCB id of the most recent request of the station, if any.
std::optional<uint8_t> LastRequester(uint8_t hostId);

}  // namespace qm
