// Request and reply files: how a terminal's request reaches the back-end as
// TXT/T<host>.txt and how its reply comes back from TXT/R<host>.txt.
//
// One last-request memory (code and DCB id) ties a reply to its request for
// the whole service: only the most recent request, of whatever station, can
// be answered.
#pragma once

#include <cstdint>
#include <functional>
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

struct ReplyResult {
    uint8_t code = 0;
    uint8_t dcbId = 0;
    uint32_t length = 0;
};

// Reads the reply file of the host into data (capacity bytes), in 20-byte
// slots. Returns 1 when it answers the most recent request. On refusal the
// data is untouched and out->length is 0; out->code may already be set.
// Lines that would run past the capacity are not taken.
int ReadReplyFile(const std::string& txtDir, uint8_t hostId, uint8_t* data, size_t capacity,
                  ReplyResult* out);

// The last-request memory: cleared when the service starts.
void ResetLastRequest();
void LastRequest(uint8_t* code, uint8_t* dcbId);

}  // namespace qm
