#include "panels/download_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/app_log.h"
#include "platform/window_message.h"
#include "service/master_data.h"
#include "service/service.h"
#include "site/station_lookup.h"

namespace qm {

namespace {

constexpr uint8_t kFailed = 0;
constexpr uint8_t kSearching = 1;
constexpr uint8_t kFound = 2;
constexpr uint8_t kReceiving = 3;
constexpr uint8_t kDone = 4;

constexpr uint32_t kNoRun = 0;
constexpr uint32_t kFinished = 3;
constexpr uint32_t kTestHoldsLink = 4;

}  // namespace

void FillFileFlags(const ContentBoxes& boxes, _DCBSELPARAM& selection) {
    std::fill(std::begin(selection.fileFlags), std::end(selection.fileFlags), 0);
    for (size_t b = 0; b < kContentBoxCount; ++b) {
        const ContentBox& box = kContentBoxes[b];
        for (uint8_t f = 0; f < box.fileCount; ++f)
            selection.fileFlags[box.firstFile + f] = boxes[b];
    }
}

DownloadPanel::DownloadPanel(PanelHost& host) : host_(host) {
    for (size_t b = 0; b < kContentBoxCount; ++b) boxes_[b] = kContentBoxes[b].byDefault;
    std::memset(status_.dcbStatus, kSearching, sizeof status_.dcbStatus);
}

DownloadPanel::~DownloadPanel() {
    // The site may already be gone: only the service is told.
    if (phase_ == Phase::kRunning)
        service::StopDownload();
}

void DownloadPanel::AttachSite(SiteContext& site) {
    site_ = &site;
    phase_ = Phase::kIdle;
    gate_.Reset();
    selection_ = {};
    ShowStation(0);
}

void DownloadPanel::ShowStation(uint8_t stationIndex) {
    station_ = stationIndex;
    rowIds_.clear();
    if (site_ && stationIndex < site_->stationCount && stationIndex < site_->stations.size()) {
        const _DEVINFO& st = site_->stations[stationIndex];
        rowIds_.assign(st.dcbIds, st.dcbIds + std::min<size_t>(st.dcbCount, QM_MAX_TERMINALS));
    }
    rowStatus_.assign(rowIds_.size(), std::string());
    changed_.Reset(rowIds_.size(), false);
    ticks_.Reset(rowIds_.size());
}

PressOutcome DownloadPanel::Press(uint32_t nowMs) {
    if (!site_ || !gate_.Accept(nowMs))
        return PressOutcome::kIgnored;
    if (Running()) {
        Stop();
        return PressOutcome::kStopped;
    }
    if (ticks_.Count() == 0) {
        host_.MessageBox("请选择设备！");
        return PressOutcome::kRefused;
    }
    if (site_->testRunning) {
        host_.MessageBox("请先关闭测试");
        return PressOutcome::kRefused;
    }
    // A station whose port did not open has no place in the service: a run
    // on its neighbour's index would reach the wrong terminals.
    const uint8_t serviceIndex = ServiceStationIndex(*site_, station_);
    if (serviceIndex == 255) {
        host_.MessageBox("基站未运行");
        return PressOutcome::kRefused;
    }

    phase_ = Phase::kAwaitingGoAhead;
    selection_ = {};
    selection_.stationIndex = serviceIndex;
    for (size_t row = 0; row < Rows(); ++row) {
        SetRowStatus(row, std::string());
        status_.dcbStatus[row] = kSearching;
    }
    const std::vector<uint8_t> ids = TickedIds(ticks_, rowIds_.data(), rowIds_.size());
    selection_.dcbListCount = static_cast<uint32_t>(ids.size());
    std::copy(ids.begin(), ids.end(), selection_.dcbList);
    FillFileFlags(boxes_, selection_);
    site_->downloadRunning = 1;

    // The back-end brings the master-data files up to date, then answers
    // with its own notice 11.
    if (!host_.NotifyBackEnd(QM_NOTICE_DATA_READY))
        LogError("Notice 11 could not be posted to the back-end", 255, 255);
    return PressOutcome::kAwaitGoAhead;
}

bool DownloadPanel::Launch() {
    if (phase_ != Phase::kAwaitingGoAhead)
        return false;
    service::StartDownload(selection_);
    // Every byte differs from any status, so the first poll writes every row.
    std::memset(&previous_, 0xFF, sizeof previous_);
    phase_ = Phase::kRunning;
    return true;
}

void DownloadPanel::Stop() {
    site_->downloadRunning = 0;
    service::StopDownload();
    phase_ = Phase::kIdle;
}

bool DownloadPanel::Poll() {
    if (!site_)
        return false;
    _UPDATESTATUS fresh = status_;
    const uint32_t result = site_->testRunning ? kTestHoldsLink : service::DownloadStatus(&fresh);
    return Step(result, fresh);
}

bool DownloadPanel::Step(uint32_t result, const _UPDATESTATUS& status) {
    if (!site_)
        return false;
    status_ = status;
    if (result == kFinished) {
        site_->downloadRunning = 0;
        service::StopDownload();
        phase_ = Phase::kIdle;
    }
    const bool linesMoved = status_.lineNumber != previous_.lineNumber ||
                            status_.lineTotal != previous_.lineTotal ||
                            status_.fileIndex != previous_.fileIndex;
    const uint32_t listed = std::min<uint32_t>(selection_.dcbListCount, QM_MAX_TERMINALS);
    for (uint32_t k = 0; k < listed; ++k) {
        // A terminal of another station (the operator switched stations
        // during the run) has no row here.
        const size_t row = RowOf(selection_.dcbList[k]);
        if (row == Rows())
            continue;
        const uint8_t v = status_.dcbStatus[k];
        if (result == kNoRun && v != kFailed) {
            // No status was read after the stop: the row tells of the stop.
            SetRowStatus(row, "用户终止");
            continue;
        }
        const bool moved = v != previous_.dcbStatus[k] || (v == kReceiving && linesMoved);
        std::string text;
        if (moved && StatusText(v, &text))
            SetRowStatus(row, std::move(text));
    }
    if (result == kNoRun) {
        // Stopped by the operator, or ended under the panel (the link went
        // down): either way the link is free for a test again.
        site_->downloadRunning = 0;
        phase_ = Phase::kIdle;
        return false;
    }
    previous_ = status_;
    return result != kFinished;
}

bool DownloadPanel::StatusText(uint8_t v, std::string* out) const {
    switch (v) {
        case kFailed:
            *out = "下载失败";
            return true;
        case kSearching:
            *out = "正在搜索...";
            return true;
        case kFound:
            *out = "准备下载...";
            return true;
        case kReceiving: {
            if (status_.fileIndex >= service::kMasterDataFiles.size())
                return false;
            char line[96];
            std::snprintf(
                line, sizeof line, "%s %d/%d", service::kMasterDataFiles[status_.fileIndex].name,
                static_cast<int>(status_.lineNumber), static_cast<int>(status_.lineTotal));
            *out = line;
            return true;
        }
        case kDone:
            *out = "下载成功";
            return true;
        default:
            return false;
    }
}

std::string DownloadPanel::RowId(size_t row) const {
    char id[8];
    std::snprintf(id, sizeof id, "%.3d", rowIds_.at(row));
    return id;
}

bool DownloadPanel::RowRed(size_t row) const {
    if (row >= Rows())
        return false;
    const uint32_t listed = std::min<uint32_t>(selection_.dcbListCount, QM_MAX_TERMINALS);
    for (uint32_t k = 0; k < listed; ++k)
        if (selection_.dcbList[k] == rowIds_[row] && status_.dcbStatus[k] == kFailed)
            return true;
    return false;
}

void DownloadPanel::SetRowStatus(size_t row, std::string text) {
    rowStatus_[row] = std::move(text);
    changed_.Mark(row);
}

size_t DownloadPanel::RowOf(uint8_t dcbId) const {
    return static_cast<size_t>(std::find(rowIds_.begin(), rowIds_.end(), dcbId) - rowIds_.begin());
}

}  // namespace qm
