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

// Writes TXT/T<host>.txt for a request and posts its notice with `post`
// (see WriteRequestFile in request_files.h).
void SaveRequestFile(const RequestNoticePost& post, uint8_t hostId, uint8_t dcbId, uint8_t code,
                     std::span<const uint8_t> data);
// The same, posting to the back-end's window itself with a bounded wait.
void SaveRequestFile(WindowHandle backEnd, uint8_t hostId, uint8_t dcbId, uint8_t code,
                     std::span<const uint8_t> data);
// Reads TXT/R<host>.txt into buffer (see ReadReplyFile in request_files.h);
// true when it answers the most recent request of the terminal it names. A
// refused reply ends the outstanding exchange of the terminal it was for, so
// the station's beacon does not wait on it again.
bool ReadReplyFile(uint8_t hostId, std::span<uint8_t> buffer, ReplyResult* out);
// Hands a reply to the link, which sends it on a thread of the terminal's
// station (SendData waits for the terminal instead): for the manager's
// window, which must never wait on the radio. False, logged, when no link
// runs, the station or terminal is unknown, or the station holds too many
// replies already; one that the terminal then does not acknowledge is logged
// as "Send Error".
bool QueueReply(uint8_t dcbId, uint8_t hostId, uint8_t code, std::span<const uint8_t> data);

// A download run of the master-data files to selected terminals of one
// station (the selection is copied). Refused, with a log line, while a run
// or a link test is active, for more than QM_MAX_TERMINALS terminals, or for
// a station index that names no running station.
void StartDownload(const _DCBSELPARAM& selection);
// Ends the run (after its closing step) and resumes the beacons; nothing
// happens when none is active.
void StopDownload();
// The run's progress: 0 no run, 1 searching, 2 downloading, 3 finished
// (reported once); status is filled unless the result is 0.
uint32_t DownloadStatus(_UPDATESTATUS* status);

// A link test on one station with the caller's counters, one entry per
// terminal of the station in table order; the array stays in use until
// StopLinkTest returns. Refused, with a log line, like StartDownload, and for
// an array that is missing or not aligned to 4 bytes.
void StartLinkTest(uint8_t stationIndex, _TESTSTATUS* array);
// Ends the test once its current probe is counted (within 170 ms) and
// resumes the beacons.
void StopLinkTest();
// A counter of a running test's array, read as the whole word the test
// writes.
uint32_t ReadTestCount(const uint32_t& counter);

// The station index that StartDownload and StartLinkTest take for the
// station with this host id: its position among the stations the service
// opened, which differs from its place in the site's station table when a
// station before it failed to open. 255, with a log line, when no station of
// that host id runs.
uint8_t StationIndex(uint8_t hostId);

// Queues a short message (text NUL-terminated) for a terminal.
void SetShortMessage(uint8_t messageNumber, uint8_t dcbId, const uint8_t* text);
// The venue title, centred in kTitleSize bytes; longer titles are cut.
void SetVenueTitle(std::span<const uint8_t> title);
// The link parameters; kDefaultRetryTimes and its neighbours stand where
// QM.ini names none. A value outside its range (kRetryTimesRange and its
// neighbours) takes the nearest bound and is logged.
void SetParams(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval);
// The service's version, "1.07".
const char* Version();

}  // namespace qm::service
