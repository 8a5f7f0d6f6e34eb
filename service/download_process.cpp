// The download run: pushes the master-data files to selected terminals of
// one base station. A worker thread searches for the terminals, broadcasts
// each flagged file line by line, collecting an acknowledgement from every
// terminal still in the run after each line, and tells each terminal at the
// end that the download is over. The beacons of every station pause while a
// run is active, and the link routes the selected terminals' answers to it.
//
// The caller (the download panel, or a program using the library) starts and
// stops the run and polls its status; those three calls are serialised here.
// The worker owns the targets' flags; the status query only reads them.
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "link/link_params.h"
#include "link/link_state.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "service/master_data.h"
#include "service/run_control.h"
#include "service/service.h"

namespace qm::service {
namespace {

enum class UpdateState : int32_t { kIdle = 0, kSearching = 1, kDownloading = 2, kFinished = 3 };

// Pauses of the run around its phases: after pausing the beacons, before
// the first line, and around the closing step.
constexpr uint32_t kBeaconsSettle = 100;
constexpr uint32_t kBeforeFirstLine = 300;
constexpr uint32_t kAroundDone = 100;
// The search gives up after this much unanswered waiting (ms).
constexpr int64_t kSearchBudget = 24000;
constexpr uint32_t kSearchAttempts = 3;
constexpr uint32_t kLineRounds = 5;
constexpr uint32_t kDoneAttempts = 10;
constexpr uint32_t kDoneExtraWait = 50;

// The one run of the service.
struct UpdateRecord {
    _DCBSELPARAM selection{};
    std::vector<std::unique_ptr<DownloadTarget>> pStatus;
    bool allocated = false;  // pStatus was made for a run and not yet released
    std::array<std::atomic<uint32_t>, kDownloadFileCount> lineTotals{};
    std::array<std::atomic<uint32_t>, kDownloadFileCount> linesSent{};
    std::atomic<uint8_t> currentFile{0};
    std::atomic<int32_t> userStop{0};
    std::atomic<int32_t> state{0};
    std::atomic<int32_t> active{0};
    // Set while a run holds the link's beacons: from Start to Stop.
    Link* link = nullptr;
    uint8_t station = 0;
    std::thread worker;
};

UpdateRecord g_Update;

UpdateState State() {
    return static_cast<UpdateState>(g_Update.state.load());
}
void SetState(UpdateState s) {
    g_Update.state = static_cast<int32_t>(s);
}

size_t TargetCount() {
    return g_Update.pStatus.size();
}

// The answer time: BeaconInterVal, read afresh before each wait.
uint32_t AnswerTime() {
    return Params().beaconInterval;
}

enum class Outcome { kSignalled, kAborted, kTimedOut, kLinkStopped };

// Waits for the event; with watchAbort a stop of the run ends the wait too.
// A stop of the whole link always does.
Outcome WaitFor(Link& link, const Event& event, uint32_t ms, bool watchAbort) {
    const int r = watchAbort ? WaitAny({&event, &link.stop, &link.abortEvent}, ms)
                             : WaitAny({&event, &link.stop}, ms);
    switch (r) {
        case 0:
            return Outcome::kSignalled;
        case 1:
            return Outcome::kLinkStopped;
        case 2:
            return Outcome::kAborted;
        default:
            return Outcome::kTimedOut;
    }
}

// A pause that a stop of the run (or of the link) cuts short; true when it
// ran its full time.
bool Pause(Link& link, uint32_t ms, bool watchAbort) {
    const int r =
        watchAbort ? WaitAny({&link.stop, &link.abortEvent}, ms) : WaitAny({&link.stop}, ms);
    return r == kWaitTimeout;
}

StationLink& RunStation() {
    return *g_Update.link->stations[g_Update.station];
}

// Queues a frame for the run's station and wakes its writer.
void Queue(const std::optional<Frame>& frame) {
    if (!frame)
        return;
    StationLink& station = RunStation();
    AppendFrame(station, *frame);
    station.wake.Set();
}

void LogTrace(const char* text, uint32_t dcbNumber) {
    LogAt(kLogDownload, text, 0, dcbNumber);
}

void SendDownloadDone() {
    Link& link = *g_Update.link;
    if (!Pause(link, kAroundDone, false))
        return;
    for (const auto& target : g_Update.pStatus) {
        if (target->failed || !target->found) {
            LogTrace("[SendDownloadDone] Fail or Sync", target->dcbId);
            continue;
        }
        const auto frame = BuildControlFrame(target->dcbId, kCmdDownloadDone);
        bool acked = false;
        for (uint32_t attempt = 0; attempt < kDoneAttempts && !acked; ++attempt) {
            target->lineAckEvent.Reset();
            Queue(frame);
            switch (WaitFor(link, target->lineAckEvent, AnswerTime() + kDoneExtraWait, false)) {
                case Outcome::kSignalled:
                    acked = true;
                    break;
                case Outcome::kLinkStopped:
                    return;
                default:
                    break;
            }
        }
        target->failed = acked ? 0 : 1;
    }
    if (!Pause(link, kAroundDone, false))
        return;
    // A run whose terminals all failed has been reported finished already
    // (and the report may have been read): it is not reported twice.
    if (g_Update.userStop)
        SetState(UpdateState::kIdle);
    else if (g_Update.active)
        SetState(UpdateState::kFinished);
}

enum class SearchResult { kFound, kNobody, kAborted, kLinkStopped };

SearchResult SearchTerminals() {
    Link& link = *g_Update.link;
    const size_t count = TargetCount();
    if (count == 0)
        return SearchResult::kNobody;
    int64_t budget = 0;
    size_t foundCount = 0;
    do {
        for (const auto& target : g_Update.pStatus) {
            if (target->found) {
                budget -= kSearchAttempts * AnswerTime();
                continue;
            }
            const auto frame = BuildControlFrame(target->dcbId, kCmdDownloadSearch);
            for (uint32_t attempt = 0; attempt < kSearchAttempts; ++attempt) {
                target->foundEvent.Reset();
                Queue(frame);
                const Outcome o = WaitFor(link, target->foundEvent, AnswerTime(), true);
                if (o == Outcome::kAborted)
                    return SearchResult::kAborted;
                if (o == Outcome::kLinkStopped)
                    return SearchResult::kLinkStopped;
                if (o == Outcome::kSignalled) {
                    target->found = 1;
                    if (++foundCount == count)
                        return SearchResult::kFound;
                    break;
                }
            }
        }
        // Each round adds the answer time of three attempts for every
        // terminal still missing at its turn.
        budget += static_cast<int64_t>(kSearchAttempts * AnswerTime() * count);
    } while (budget < kSearchBudget);
    return foundCount > 0 ? SearchResult::kFound : SearchResult::kNobody;
}

// Broadcasts one record until every terminal still in the run has
// acknowledged it, at most five times. False when the run is to end: it was
// stopped, or no terminal is left.
bool SendDownloadLine(const Frame& frame, const MasterDataFile& file, bool firstLine) {
    Link& link = *g_Update.link;
    const size_t count = TargetCount();
    for (const auto& target : g_Update.pStatus) target->acked = 0;
    for (uint32_t round = 0; round < kLineRounds; ++round) {
        Queue(frame);
        if (!Pause(link, firstLine ? file.firstLinePause : file.laterLinePause, true))
            return false;
        size_t done = 0;
        for (const auto& target : g_Update.pStatus) {
            if (!target->found || target->failed || target->acked) {
                if (++done == count)
                    return true;
                continue;
            }
            target->lineAckEvent.Reset();
            Queue(BuildBeaconFrame(target->dcbId));
            const Outcome o = WaitFor(link, target->lineAckEvent, AnswerTime(), true);
            if (o == Outcome::kAborted || o == Outcome::kLinkStopped)
                return false;
            if (o == Outcome::kSignalled) {
                target->acked = 1;
                if (++done == count)
                    return true;
            }
        }
    }
    bool anyLeft = false;
    for (const auto& target : g_Update.pStatus) {
        if (!target->acked)
            target->failed = 1;
        anyLeft = anyLeft || (target->found && !target->failed);
    }
    if (anyLeft)
        return true;
    // Finished before inactive: a query in between reports the end once.
    SetState(UpdateState::kFinished);
    g_Update.active = 0;
    return false;
}

void CountFileLines() {
    const std::string& txtDir = g_Update.link->txtDir;
    for (size_t i = 0; i < kDownloadFileCount; ++i) {
        if (!g_Update.selection.fileFlags[i])
            continue;
        MasterDataReader reader = OpenMasterData(txtDir, i);
        if (!reader.IsOpen()) {
            g_Update.selection.fileFlags[i] = 0;
            continue;
        }
        uint32_t lines = 0;
        while (reader.Next()) ++lines;
        g_Update.lineTotals[i] = lines;
        g_Update.linesSent[i] = 0;
        if (lines == 0) {
            g_Update.selection.fileFlags[i] = 0;
        } else if (lines > kMaxRecordCounter) {
            // Its record numbers would not fit the frame's counter bytes.
            LogError("Download file too long, skipped", 255, static_cast<uint32_t>(i));
            g_Update.selection.fileFlags[i] = 0;
        }
    }
}

void LogRecordRepairs(const MasterDataRecord& record, size_t fileIndex, uint32_t line) {
    if (!record.cut && !record.replaced)
        return;
    char text[96];
    std::snprintf(text, sizeof text, "Download line %u of file %zu %s", line, fileIndex,
                  record.cut ? "too long, cut" : "held 0xFF, sent as '?'");
    LogError(text, 255, 255);
}

// False when the run is to end without a further file.
bool SendFile(size_t i) {
    MasterDataReader reader = OpenMasterData(g_Update.link->txtDir, i);
    if (!reader.IsOpen())
        return true;
    const uint32_t total = g_Update.lineTotals[i];
    for (uint32_t j = 0; j < total; ++j) {
        const auto record = reader.Next();
        if (!record)
            break;
        LogRecordRepairs(*record, i, j + 1);
        g_Update.currentFile = static_cast<uint8_t>(i);
        g_Update.linesSent[i] = j + 1;
        const auto frame =
            BuildDownloadFrame(static_cast<uint8_t>(i), total, j + 1, record->bytes());
        if (!frame)
            continue;  // cannot happen: the record fits and holds no marker
        if (!SendDownloadLine(*frame, kMasterDataFiles[i], j == 0))
            return false;
    }
    return true;
}

void DownloadFiles() {
    SetState(UpdateState::kDownloading);
    CountFileLines();
    if (!Pause(*g_Update.link, kBeforeFirstLine, false))
        return;
    for (size_t i = 0; i < kDownloadFileCount; ++i) {
        if (g_Update.selection.fileFlags[i] && !SendFile(i))
            break;
    }
    if (!g_Update.link->stop.IsSet())
        SendDownloadDone();
}

void Worker() {
    switch (SearchTerminals()) {
        case SearchResult::kFound:
            DownloadFiles();
            return;
        case SearchResult::kNobody:
            SetState(UpdateState::kFinished);
            g_Update.active = 0;
            return;
        case SearchResult::kAborted:
            SendDownloadDone();
            SetState(UpdateState::kIdle);
            return;
        case SearchResult::kLinkStopped:
            SetState(UpdateState::kIdle);
            return;
    }
}

void ReleaseTargets() {
    if (!g_Update.allocated)
        return;
    g_Update.pStatus.clear();
    g_Update.allocated = false;
    LogTrace("[SDKUpdateProcess] free g_Update.pStatus", 0);
}

}  // namespace

std::mutex& RunLock() {
    static std::mutex lock;
    return lock;
}

bool DownloadActive() {
    return g_Update.link != nullptr;
}

void StartDownload(const _DCBSELPARAM& selection) {
    std::lock_guard<std::mutex> hold(RunLock());
    LinkCall call;
    if (!call) {
        LogError("SDKUpdateProcess: the link is not running", 255, 255);
        return;
    }
    Link& link = call.link();
    if (g_Update.link || link.testActive) {
        LogError("SDKUpdateProcess: a download run or link test is active", 255, 255);
        return;
    }
    if (selection.dcbListCount > QM_MAX_TERMINALS) {
        LogError("SDKUpdateProcess: more than 200 terminals selected", 255, 255);
        return;
    }
    if (selection.stationIndex >= link.stations.size()) {
        LogError("SDKUpdateProcess: no such station running", 255, selection.stationIndex);
        return;
    }

    link.run.Reset();
    SleepMs(kBeaconsSettle);
    link.abortEvent.Reset();
    g_Update.selection = selection;
    ReleaseTargets();
    for (uint32_t k = 0; k < selection.dcbListCount; ++k)
        g_Update.pStatus.push_back(std::make_unique<DownloadTarget>(selection.dcbList[k]));
    g_Update.allocated = true;
    LogTrace("[SDKUpdateProcess] malloc g_Update.pStatus", selection.dcbListCount);
    SleepMs(kBeaconsSettle);

    g_Update.link = &link;
    g_Update.station = selection.stationIndex;
    g_Update.userStop = 0;
    g_Update.active = 1;
    SetState(UpdateState::kSearching);
    AttachDownloadRoute(link, DownloadRoute{selection.stationIndex, g_Update.pStatus});
    try {
        g_Update.worker = std::thread(Worker);
    } catch (const std::system_error&) {
        LogError("Worker thread not started", 255, 255);
        DetachDownloadRoute(link);
        g_Update.link = nullptr;
        SetState(UpdateState::kIdle);
        ReleaseTargets();
        link.run.Set();
    }
}

void StopDownload() {
    std::lock_guard<std::mutex> hold(RunLock());
    StopDownloadLocked();
}

void StopDownloadLocked() {
    if (!g_Update.link)
        return;
    Link& link = *g_Update.link;
    // From here the terminals' acknowledgements go to their own events, so
    // the closing step of a stopped run hears none of them.
    EndDownloadRouting(link);
    g_Update.userStop = 1;
    link.abortEvent.Set();
    if (g_Update.worker.joinable())
        g_Update.worker.join();
    DetachDownloadRoute(link);
    ReleaseTargets();
    g_Update.link = nullptr;
    // Whatever the worker reached, a released run has nothing to report.
    SetState(UpdateState::kIdle);
    link.run.Set();
}

uint32_t DownloadStatus(_UPDATESTATUS* status) {
    std::lock_guard<std::mutex> hold(RunLock());
    const UpdateState state = State();
    if (state == UpdateState::kIdle || status == nullptr)
        return 0;
    const uint8_t file = g_Update.currentFile;
    status->fileIndex = file;
    status->lineTotal = g_Update.lineTotals[file];
    status->lineNumber = g_Update.linesSent[file];
    const bool active = g_Update.active;
    for (size_t k = 0; k < g_Update.pStatus.size(); ++k) {
        const DownloadTarget& t = *g_Update.pStatus[k];
        const bool inRun = t.found && !t.failed;
        uint8_t s = 0;
        if (active) {
            switch (state) {
                case UpdateState::kSearching:
                    s = t.found ? 2 : 1;
                    break;
                case UpdateState::kDownloading:
                    s = inRun ? 3 : 0;
                    break;
                default:
                    s = inRun ? 4 : 0;
                    break;
            }
        }
        status->dcbStatus[k] = s;
    }
    if (state == UpdateState::kFinished || !active) {
        SetState(UpdateState::kIdle);
        return 3;
    }
    return static_cast<uint32_t>(state);
}

}  // namespace qm::service
