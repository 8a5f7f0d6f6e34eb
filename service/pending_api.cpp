// Download runs and link tests are not part of this build yet. Their entry
// points exist so that programs linking the service resolve them; they start
// nothing and say so in the log, and the status reports that no run exists.
#include "platform/app_log.h"
#include "service/qmsdk.h"

extern "C" {

QM_API void SDKUpdateProcess(int start, _DCBSELPARAM*) {
    if (start)
        qm::LogError("SDKUpdateProcess: download runs are not available", 255, 255);
}

QM_API uint32_t SDKGetUpdateStatus(_UPDATESTATUS*) {
    return 0;
}

QM_API void SDKTestProcess(int start, uint8_t, _TESTSTATUS*) {
    if (start)
        qm::LogError("SDKTestProcess: link tests are not available", 255, 255);
}

}  // extern "C"
