#include "panels/test_panel.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>

#include "service/service.h"
#include "site/station_lookup.h"

namespace qm {

namespace {

// The four counters in column order. While a test runs its sender thread
// writes them as whole words; they are read and cleared the same way.
constexpr std::array<size_t, 4> kCounterOffsets = {
    offsetof(_TESTSTATUS, sentCount), offsetof(_TESTSTATUS, okCount),
    offsetof(_TESTSTATUS, errorCount), offsetof(_TESTSTATUS, timeoutCount)};

uint32_t& CounterWord(_TESTSTATUS& entry, size_t counter) {
    return *reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(&entry) +
                                        kCounterOffsets[counter]);
}

// The error rate of a row: lost and damaged frames against all sent ones.
std::string RateText(uint32_t sent, uint32_t ok, uint32_t bad) {
    if (ok == 0 || sent == 0)
        return "100%";
    char text[32];
    std::snprintf(text, sizeof text, "%0.2f%%", static_cast<double>(bad) * 100.0 / sent);
    return text;
}

}  // namespace

TestPanel::TestPanel(PanelHost& host) : host_(host) {}

TestPanel::~TestPanel() {
    if (!idle_)
        service::StopLinkTest();
}

void TestPanel::AttachSite(SiteContext& site) {
    site_ = &site;
    idle_ = true;
    clearEnabled_ = true;
    gate_.Reset();
    ShowStation(0);
}

void TestPanel::ShowStation(uint8_t stationIndex) {
    station_ = stationIndex;
    rowIds_.clear();
    if (site_ && stationIndex < site_->stationCount && stationIndex < site_->stations.size()) {
        const _DEVINFO& st = site_->stations[stationIndex];
        rowIds_.assign(st.dcbIds, st.dcbIds + std::min<size_t>(st.dcbCount, QM_MAX_TERMINALS));
    }
    cells_.assign(rowIds_.size(), {});
    changed_.Reset(rowIds_.size(), true);
    for (size_t row = 0; row < Rows(); ++row) {
        char id[8];
        std::snprintf(id, sizeof id, "%.3d", rowIds_[row]);
        cells_[row][0] = id;
    }
    ticks_.Reset(rowIds_.size());
    ClearCounters();
}

PressOutcome TestPanel::Press(uint32_t nowMs) {
    if (!site_ || !gate_.Accept(nowMs))
        return PressOutcome::kIgnored;
    if (!idle_) {
        // The display timer stops itself at its next tick.
        site_->testRunning = 0;
        service::StopLinkTest();
        idle_ = true;
        return PressOutcome::kStopped;
    }
    if (ticks_.Count() == 0) {
        host_.MessageBox("请选择设备！");
        return PressOutcome::kRefused;
    }
    if (site_->testRunning || site_->downloadRunning) {
        host_.MessageBox("请先关闭下载");
        return PressOutcome::kRefused;
    }
    const uint8_t serviceIndex = ServiceStationIndex(*site_, station_);
    if (serviceIndex == 255) {
        host_.MessageBox("基站未运行");
        return PressOutcome::kRefused;
    }

    idle_ = false;
    for (size_t j = 0; j < Rows(); ++j) entries_[j].selected = 0;
    for (uint8_t id : TickedIds(ticks_, rowIds_.data(), rowIds_.size()))
        for (size_t j = 0; j < Rows(); ++j)
            if (rowIds_[j] == id)
                entries_[j].selected = 1;
    clearEnabled_ = false;
    site_->testRunning = 1;
    service::StartLinkTest(serviceIndex, entries_.data());
    return PressOutcome::kStarted;
}

bool TestPanel::Tick() {
    for (size_t row = 0; row < Rows(); ++row) {
        if (!entries_[row].selected)
            continue;
        std::array<uint32_t, 4> now{};
        for (size_t c = 0; c < now.size(); ++c)
            now[c] = service::ReadTestCount(CounterWord(entries_[row], c));
        if (now == previous_[row])
            continue;
        for (size_t c = 0; c < now.size(); ++c)
            if (now[c] != previous_[row][c])
                SetCell(row, 1 + c, std::to_string(now[c]));
        // Without a lost or damaged frame the rate keeps what it showed.
        const uint32_t bad = now[2] + now[3];
        if (bad != 0)
            SetCell(row, 5, RateText(now[0], now[1], bad));
        previous_[row] = now;
    }
    if (!idle_)
        return true;
    clearEnabled_ = true;
    return false;
}

void TestPanel::ClearPressed() {
    if (clearEnabled_)
        ClearCounters();
}

void TestPanel::ClearCounters() {
    for (_TESTSTATUS& entry : entries_)
        for (size_t c = 0; c < kCounterOffsets.size(); ++c)
            std::atomic_ref<uint32_t>(CounterWord(entry, c)).store(0, std::memory_order_relaxed);
    // Differs from any cleared counter: the next tick writes every value.
    for (auto& counters : previous_) counters.fill(255);
    for (size_t row = 0; row < Rows(); ++row)
        for (size_t column = 1; column < kColumns; ++column) SetCell(row, column, "0");
}

void TestPanel::SetCell(size_t row, size_t column, std::string text) {
    cells_[row][column] = std::move(text);
    changed_.Mark(row);
}

}  // namespace qm
