// The service API's download run and link test functions.
#include <cstddef>

#include "link/link_state.h"
#include "platform/app_log.h"
#include "service/qmsdk.h"
#include "service/service.h"

namespace qm::service {

// The link writes a test's counters through its own view of the record.
static_assert(sizeof(TestCounters) == sizeof(_TESTSTATUS));
static_assert(offsetof(TestCounters, sentCount) == offsetof(_TESTSTATUS, sentCount));
static_assert(offsetof(TestCounters, okCount) == offsetof(_TESTSTATUS, okCount));
static_assert(offsetof(TestCounters, errorCount) == offsetof(_TESTSTATUS, errorCount));
static_assert(offsetof(TestCounters, timeoutCount) == offsetof(_TESTSTATUS, timeoutCount));
static_assert(offsetof(TestCounters, selected) == offsetof(_TESTSTATUS, selected));
static_assert(offsetof(TestCounters, replyEvent) == offsetof(_TESTSTATUS, replyEvent));

uint32_t ReadTestCount(const uint32_t& counter) {
    return __atomic_load_n(&counter, __ATOMIC_RELAXED);
}

uint8_t StationIndex(uint8_t hostId) {
    LinkCall call;
    if (call) {
        const auto& stations = call.link().stations;
        for (size_t i = 0; i < stations.size(); ++i)
            if (stations[i]->hostId == hostId)
                return static_cast<uint8_t>(i);
    }
    LogError("Station not running", hostId, 255);
    return kNotFound;
}

}  // namespace qm::service

extern "C" {

QM_API void SDKUpdateProcess(int start, _DCBSELPARAM* selection) {
    if (!start) {
        qm::service::StopDownload();
        return;
    }
    if (selection == nullptr) {
        qm::LogError("SDKUpdateProcess: no selection", 255, 255);
        return;
    }
    qm::service::StartDownload(*selection);
}

QM_API uint32_t SDKGetUpdateStatus(_UPDATESTATUS* status) {
    return qm::service::DownloadStatus(status);
}

QM_API void SDKTestProcess(int start, uint8_t stationIndex, _TESTSTATUS* array) {
    if (start)
        qm::service::StartLinkTest(stationIndex, array);
    else
        qm::service::StopLinkTest();
}

}  // extern "C"
