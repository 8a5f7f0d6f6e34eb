// The transmit path: the per-station queue, control frames, SendMACFrame
// with its acknowledgement retries, and long replies sent page by page from
// their spill files.
#pragma once

#include <cstdint>
#include <span>

#include "link/link_state.h"

namespace qm {

// Wait for one acknowledgement of a sent frame; the terminal answers well
// within it on a healthy link.
inline constexpr uint32_t kAckWait = 500;
// Every write waits this long under the port lock: base stations need a gap
// between frames to turn their radio around.
inline constexpr uint32_t kWritePause = 10;
inline constexpr uint32_t kPageSize = 200;
inline constexpr uint32_t kFragmentsPerPage = 4;

// Appends a copy of the frame to the station's queue. Frames are at most
// 255 bytes by construction; anything claiming more is refused, and so is
// every frame while kTxQueueMax are waiting. A full queue is logged once,
// "Transmit queue full (1024 frames): frames refused", and once it has
// drained to half, "Transmit queue drained: <n> frames refused meanwhile".
bool AppendFrame(StationLink& station, const Frame& frame);

// Queues a control frame (acknowledgement 0x01, checksum error 0x02) to the
// terminal and wakes the writer. Never waits.
void SendControlFrame(StationLink& station, TerminalLink& terminal, uint8_t command);

// Who carries an exchange that waits for acknowledgements: the calling
// thread, or a worker of the link so that the caller goes on at once.
enum class Carrier : uint8_t { kCaller, kWorker };
// What the frame does to the terminal's exchange: with kSetIdle the frame
// ends it, acknowledged or not, so the beacon may move on.
enum class OnAck : uint8_t { kKeepBusy, kSetIdle };

// Ends the terminal's outstanding exchange, as if its reply had gone out
// unanswered: the beacon no longer waits on the terminal. For a reply that
// was refused or could not be sent; otherwise the terminal stays busy until
// BeaconTimeout at every visit of the beacon, for the rest of the service. A
// page that is going out ends the exchange itself when it is over.
void EndExchange(TerminalLink& terminal);
// EndExchange for the terminal of that DCB id on the opened station of that
// host id; nothing (and no log line) when there is none.
void EndExchange(Link& link, uint8_t hostId, uint8_t dcbId);

// Sends the frame and awaits the terminal's acknowledgement, up to
// RetryTimes sendings 500 ms apart. With kSetIdle the terminal's exchange
// ends whatever comes of it. With a worker as carrier, the worker
// carries the retries and the call returns 1 at once (0 when no worker could
// start: the frame then goes out once). With RetryTimes 0 the frame is only
// queued, without waking the writer, and a call the caller carries fails at
// once. A wait cut short by the stop of the link returns 0 without logging a
// timeout.
int SendMACFrame(Link& link, uint8_t stationPos, uint8_t terminalPos, const Frame& frame,
                 Carrier carrier, OnAck onAck);

// A data frame to the terminal carrying fragment fragmentIndex + 1 of the
// terminal's current reply, under its reply command.
std::optional<Frame> BuildReplyFrame(const TerminalLink& terminal, uint8_t command,
                                     uint32_t fragmentIndex, std::span<const uint8_t> payload);

// The spill file of a long reply: TXT/Swap/Swap_<dcb>_<host>.
std::string SpillPath(const Link& link, uint8_t dcbId, uint8_t hostId);
int SpillReply(const Link& link, uint8_t dcbId, uint8_t hostId, const uint8_t* bytes,
               uint32_t length);
// Page pageIndex of the spill file into page (200 bytes); bytes read, 0 on
// any failure or beyond the end.
uint32_t ReadPage(const Link& link, uint8_t dcbId, uint8_t hostId, uint32_t pageIndex,
                  uint8_t* page);

// Sends the terminal's current page of its reply, carried by the caller or
// by a page sender. The caller has counted the page as going out
// (ReplyState::pagesSending); the page's end, whatever it is, takes it off
// that count.
int SendCurrentPage(Link& link, uint8_t stationPos, uint8_t terminalPos, Carrier carrier);

// The link's part of SDKSendData: a reply to a terminal's request, sent on
// the calling thread. A reply that cannot be sent ends the terminal's
// exchange.
int SendReply(Link& link, uint8_t dcbId, uint8_t hostId, uint8_t command, const uint8_t* data,
              uint32_t length);

}  // namespace qm
