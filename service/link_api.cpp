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
#include "platform/files.h"
#include "service/qmsdk.h"
#include "service/request_files.h"

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

extern "C" {

QM_API int SDKInit(void* window, _DEVINFO* stations, uint32_t count) {
    const auto handle = static_cast<qm::WindowHandle>(reinterpret_cast<uintptr_t>(window));
    if (handle == 0 || stations == nullptr || count == 0 || count > QM_MAX_STATIONS)
        return 0;
    std::lock_guard<std::mutex> hold(g_lifecycleLock);
    if (!qm::CurrentLink())
        qm::ResetLastRequest();
    std::vector<qm::StationEntry> entries;
    for (uint32_t i = 0; i < count; ++i) entries.push_back(ToStationEntry(stations[i]));
    return qm::StartLink(handle, entries);
}

QM_API void SDKDeInit(void) {
    std::lock_guard<std::mutex> hold(g_lifecycleLock);
    qm::StopLink();
}

QM_API int SDKSendData(uint8_t dcbId, uint8_t hostId, uint8_t code, uint8_t* data,
                       uint32_t length) {
    if (data == nullptr && length > 0)
        return 0;
    qm::LinkCall call;
    if (!call)
        return 0;
    return qm::SendReply(call.link(), dcbId, hostId, code, data, length);
}

QM_API void SDKSetSMS(uint8_t messageNumber, uint8_t dcbId, uint8_t* text) {
    qm::LinkCall call;
    qm::Link* link = call ? &call.link() : nullptr;
    const std::string swapDir = link ? link->swapDir : qm::ProgramDir() + "/TXT/Swap";
    qm::QueueShortMessage(link, swapDir, messageNumber, dcbId, text);
}

}  // extern "C"
