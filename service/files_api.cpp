// The service API's request and reply file functions.
#include "link/link_state.h"
#include "platform/files.h"
#include "service/qmsdk.h"
#include "service/request_files.h"

namespace {

// The reply buffer of every application of the service holds 5000 bytes;
// the exported reader, which is not told the size, never writes beyond it.
constexpr size_t kExportedReplyCapacity = 5000;

std::string TxtDir() {
    qm::LinkCall call;
    return call ? call.link().txtDir : qm::ProgramDir() + "/TXT";
}

}  // namespace

extern "C" {

QM_API void SDKSaveTxFile(void* window, uint8_t hostId, uint8_t dcbId, uint8_t code,
                          uint32_t length, uint8_t* data) {
    if (data == nullptr && length > 0) return;
    const auto handle = static_cast<qm::WindowHandle>(reinterpret_cast<uintptr_t>(window));
    qm::WriteRequestFile(TxtDir(), handle, hostId, dcbId, code, {data, length});
}

QM_API int SDKGetRxFile(uint8_t hostId, uint8_t* data, uint8_t* code, uint8_t* dcbId,
                        uint32_t* length) {
    if (!data || !code || !dcbId || !length) return 0;
    qm::ReplyResult r;
    r.code = *code;
    r.dcbId = *dcbId;
    int ok = qm::ReadReplyFile(TxtDir(), hostId, data, kExportedReplyCapacity, &r);
    *code = r.code;
    *dcbId = r.dcbId;
    *length = r.length;
    return ok;
}

}  // extern "C"
