// The service API's link functions: start, stop, replies and short messages.
#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

#include "link/link_records.h"
#include "link/link_state.h"
#include "link/short_message.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/site_folders.h"
#include "service/qmsdk.h"
#include "service/request_files.h"
#include "service/run_control.h"
#include "service/service.h"

namespace qm::service {
namespace {

// Start and stop may come from any thread of a program using the library;
// they never overlap.
std::mutex g_lifecycleLock;

// The link's own records and limits agree with the public ones: a program
// reads the request record at the notice's address as a _REQUESTRECORD.
static_assert(sizeof(qm::RequestRecord) == sizeof(_REQUESTRECORD));
static_assert(offsetof(qm::RequestRecord, hostId) == offsetof(_REQUESTRECORD, hostId));
static_assert(offsetof(qm::RequestRecord, dcbId) == offsetof(_REQUESTRECORD, dcbId));
static_assert(offsetof(qm::RequestRecord, code) == offsetof(_REQUESTRECORD, code));
static_assert(offsetof(qm::RequestRecord, length) == offsetof(_REQUESTRECORD, length));
static_assert(qm::kRequestNoticeMessage == WM_REQUEST_RECEIVED);
static_assert(qm::kKeptRequestNotices == QM_KEPT_REQUEST_NOTICES);
static_assert(qm::kMaxTerminalsPerStation == QM_MAX_TERMINALS);
static_assert(sizeof(qm::StationEntry{}.portName) == sizeof(_DEVINFO{}.portName));

qm::StationEntry ToStationEntry(const _DEVINFO& info) {
    qm::StationEntry entry;
    entry.hostId = info.hostId;
    std::copy_n(info.portName, entry.portName.size(), entry.portName.begin());
    entry.terminalCount =
        static_cast<uint8_t>(std::min<size_t>(info.dcbCount, qm::kMaxTerminalsPerStation));
    std::copy_n(info.dcbIds, entry.terminalCount, entry.terminalIds.begin());
    return entry;
}

}  // namespace

bool Init(WindowHandle window, std::span<const _DEVINFO> stations) {
    if (window == 0 || stations.data() == nullptr || stations.empty() ||
        stations.size() > QM_MAX_STATIONS)
        return false;
    std::lock_guard<std::mutex> hold(g_lifecycleLock);
    if (!CurrentLink())
        ResetLastRequests();
    std::vector<StationEntry> entries;
    for (const _DEVINFO& station : stations) entries.push_back(ToStationEntry(station));
    return StartLink(window, entries) != 0;
}

void DeInit() {
    std::lock_guard<std::mutex> hold(g_lifecycleLock);
    // A run or test uses the link to its end: both stop first, and none
    // starts meanwhile.
    std::lock_guard<std::mutex> runs(RunLock());
    StopDownloadLocked();
    StopLinkTestLocked();
    StopLink();
}

bool SendData(uint8_t dcbId, uint8_t hostId, uint8_t code, std::span<const uint8_t> data) {
    LinkCall call;
    if (!call)
        return false;
    return SendReply(call.link(), dcbId, hostId, code, data.data(),
                     static_cast<uint32_t>(data.size())) != 0;
}

void SetShortMessage(uint8_t messageNumber, uint8_t dcbId, const uint8_t* text) {
    LinkCall call;
    Link* link = call ? &call.link() : nullptr;
    const std::string swapDir = link ? link->swapDir : CurrentSiteFolders().swap;
    QueueShortMessage(link, swapDir, messageNumber, dcbId, text);
}

}  // namespace qm::service

extern "C" {

QM_API int SDKInit(void* window, _DEVINFO* stations, uint32_t count) {
    if (stations == nullptr)
        return 0;
    const auto handle = static_cast<qm::WindowHandle>(reinterpret_cast<uintptr_t>(window));
    return qm::service::Init(handle, {stations, count}) ? 1 : 0;
}

QM_API void SDKDeInit(void) {
    qm::service::DeInit();
}

QM_API int SDKSendData(uint8_t dcbId, uint8_t hostId, uint8_t code, uint8_t* data,
                       uint32_t length) {
    if (data == nullptr && length > 0)
        return 0;
    return qm::service::SendData(dcbId, hostId, code, {data, length}) ? 1 : 0;
}

QM_API void SDKSetSMS(uint8_t messageNumber, uint8_t dcbId, uint8_t* text) {
    qm::service::SetShortMessage(messageNumber, dcbId, text);
}

}  // extern "C"
