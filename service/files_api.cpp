// The service API's request and reply file functions.
#include "link/link_state.h"
#include "link/reply_sender.h"
#include "link/transmit.h"
#include "platform/site_folders.h"
#include "service/qmsdk.h"
#include "service/request_files.h"
#include "service/service.h"

namespace qm::service {
namespace {

// The reply buffer of every application of the service holds 5000 bytes;
// the exported reader, which is not told the size, never writes beyond it.
constexpr size_t kExportedReplyCapacity = 5000;

std::string TxtDir() {
    LinkCall call;
    return call ? call.link().txtDir : CurrentSiteFolders().txt;
}

}  // namespace

const RequestNotice* ReceivedRequest(const WindowMessage& message) {
    // Only the link's request notices within the process carry a payload,
    // and theirs is always a RequestNotice.
    if (message.message != WM_REQUEST_RECEIVED || !message.payload)
        return nullptr;
    return static_cast<const RequestNotice*>(message.payload.get());
}

void SaveRequestFile(const RequestNoticePost& post, uint8_t hostId, uint8_t dcbId, uint8_t code,
                     std::span<const uint8_t> data) {
    WriteRequestFile(TxtDir(), post, hostId, dcbId, code, data);
}

void SaveRequestFile(WindowHandle backEnd, uint8_t hostId, uint8_t dcbId, uint8_t code,
                     std::span<const uint8_t> data) {
    WriteRequestFile(TxtDir(), backEnd, hostId, dcbId, code, data);
}

bool ReadReplyFile(uint8_t hostId, std::span<uint8_t> buffer, ReplyResult* out) {
    if (qm::ReadReplyFile(TxtDir(), hostId, buffer.data(), buffer.size(), out))
        return true;
    // The back-end has answered, if wrongly: the terminal its reply names
    // when that terminal has asked something here, else the one whose
    // request the station's file last held, waits no longer. Left waiting,
    // the beacon would give it BeaconTimeout at each of its visits.
    LinkCall call;
    if (!call)
        return false;
    const bool named = out->refusal != ReplyRefusal::kFileMissing &&
                       out->refusal != ReplyRefusal::kUnreadableHeader &&
                       LastRequestCode(hostId, out->dcbId).has_value();
    const std::optional<uint8_t> waiting = named ? out->dcbId : LastRequester(hostId);
    if (waiting)
        EndExchange(call.link(), hostId, *waiting);
    return false;
}

bool QueueReply(uint8_t dcbId, uint8_t hostId, uint8_t code, std::span<const uint8_t> data) {
    LinkCall call;
    if (!call)
        return false;
    return qm::QueueReply(call.link(), dcbId, hostId, code, data) != 0;
}

}  // namespace qm::service

extern "C" {

// Runs on the caller's own thread, which the post may hold up to a second
// while the window's queue is full: that caller has no outbox of ours.
QM_API void SDKSaveTxFile(void* window, uint8_t hostId, uint8_t dcbId, uint8_t code,
                          uint32_t length, uint8_t* data) {
    if (data == nullptr && length > 0)
        return;
    const auto handle = static_cast<qm::WindowHandle>(reinterpret_cast<uintptr_t>(window));
    qm::service::SaveRequestFile(handle, hostId, dcbId, code, {data, length});
}

QM_API int SDKGetRxFile(uint8_t hostId, uint8_t* data, uint8_t* code, uint8_t* dcbId,
                        uint32_t* length) {
    if (!data || !code || !dcbId || !length)
        return 0;
    qm::ReplyResult r;
    r.code = *code;
    r.dcbId = *dcbId;
    const bool ok =
        qm::service::ReadReplyFile(hostId, {data, qm::service::kExportedReplyCapacity}, &r);
    *code = r.code;
    *dcbId = r.dcbId;
    *length = r.length;
    return ok ? 1 : 0;
}

}  // extern "C"
