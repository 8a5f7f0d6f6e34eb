// The service API's link functions: start, stop, replies and short messages.
#include <mutex>

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

}  // namespace

extern "C" {

QM_API int SDKInit(void* window, _DEVINFO* stations, uint32_t count) {
    const auto handle = static_cast<qm::WindowHandle>(reinterpret_cast<uintptr_t>(window));
    if (handle == 0 || stations == nullptr || count == 0 || count > QM_MAX_STATIONS) return 0;
    std::lock_guard<std::mutex> hold(g_lifecycleLock);
    if (!qm::CurrentLink()) qm::ResetLastRequest();
    return qm::StartLink(handle, stations, count);
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
