// The service in C++: what the exported functions of qmsdk.h do, for the
// manager itself to call without going through their C types, and for those
// functions to forward to. A window handle is a WindowHandle here, data a
// span.
#pragma once

#include <cstdint>
#include <span>

#include "link/link_params.h"
#include "link/request_notice.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "service/request_files.h"

namespace qm::service {

// Starts the link on the stations; its notices go to window. False when the
// arguments are refused (no window, no stations, more than QM_MAX_STATIONS)
// or no station could be opened.
bool Init(WindowHandle window, std::span<const _DEVINFO> stations);
// Stops the link; nothing happens when none runs.
void DeInit();

// Sends a reply to a terminal; false when no link runs or it refused.
bool SendData(uint8_t dcbId, uint8_t hostId, uint8_t code, std::span<const uint8_t> data);

// The request that a WM_REQUEST_RECEIVED message posted within this process
// carries; null for any other message (a datagram from another process
// carries no request).
const RequestNotice* ReceivedRequest(const WindowMessage& message);

// Writes TXT/T<host>.txt for a request and notifies the back-end's window.
void SaveRequestFile(WindowHandle backEnd, uint8_t hostId, uint8_t dcbId, uint8_t code,
                     std::span<const uint8_t> data);
// Reads TXT/R<host>.txt into buffer (see ReadReplyFile in request_files.h);
// true when it answers the most recent request.
bool ReadReplyFile(uint8_t hostId, std::span<uint8_t> buffer, ReplyResult* out);

// Queues a short message (text NUL-terminated) for a terminal.
void SetShortMessage(uint8_t messageNumber, uint8_t dcbId, const uint8_t* text);
// The venue title, centred in kTitleSize bytes; longer titles are cut.
void SetVenueTitle(std::span<const uint8_t> title);
// The link parameters; kDefaultRetryTimes and its neighbours stand where
// QM.ini names none.
void SetParams(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval);
// The service's version, "1.07".
const char* Version();

}  // namespace qm::service
