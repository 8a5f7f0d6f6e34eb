#include "link/request_notice.h"

namespace qm {

bool PostRequestNotice(WindowHandle window, uint8_t hostId, uint8_t dcbId, uint8_t command,
                       std::span<const uint8_t> data) {
    auto notice = std::make_shared<RequestNotice>();
    notice->record.hostId = hostId;
    notice->record.dcbId = dcbId;
    notice->record.code = command;
    notice->record.length = static_cast<uint32_t>(data.size());
    // Never empty, so lParam is a valid address even for a request without data.
    notice->data.assign(data.begin(), data.end());
    notice->data.push_back(0);
    const uint64_t wParam = reinterpret_cast<uintptr_t>(&notice->record);
    const int64_t lParam = static_cast<int64_t>(reinterpret_cast<uintptr_t>(notice->data.data()));
    return PostMessage(window, WM_REQUEST_RECEIVED, wParam, lParam, std::move(notice));
}

}  // namespace qm
