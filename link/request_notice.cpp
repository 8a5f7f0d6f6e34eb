#include "link/request_notice.h"

#include <array>
#include <mutex>
#include <utility>

namespace qm {
namespace {

// Notices sent to windows outside this process's own table, newest last.
// Each stays alive until kKeptRequestNotices later ones have been sent.
struct KeptNotices {
    std::mutex lock;
    std::array<std::shared_ptr<void>, kKeptRequestNotices> ring;
    size_t next = 0;
};

KeptNotices& Kept() {
    // Lives until the process ends, past SDKDeInit: the program may read its
    // last notices after stopping the link.
    static KeptNotices kept;
    return kept;
}

}  // namespace

bool PostRequestNotice(Outbox& outbox, uint8_t hostId, uint8_t dcbId, uint8_t command,
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
    return outbox.Post(kRequestNoticeMessage, wParam, lParam, std::move(notice));
}

void KeepSentNotice(std::shared_ptr<void> notice) {
    std::shared_ptr<void> oldest;  // released outside the lock
    KeptNotices& kept = Kept();
    std::lock_guard<std::mutex> hold(kept.lock);
    oldest = std::exchange(kept.ring[kept.next], std::move(notice));
    kept.next = (kept.next + 1) % kKeptRequestNotices;
}

}  // namespace qm
