// The link test panel's rules: the operator ticks terminals of one base
// station and starts a link test that keeps probing them until it is
// stopped; the panel shows per terminal the frames sent, answered, damaged
// and lost, and the error rate. The widget (CTestDlg) shows what this class
// holds and forwards the clicks and its display timer to it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panels/panel_host.h"
#include "panels/panel_rules.h"
#include "service/qmsdk.h"
#include "site/site_context.h"

namespace qm {

class TestPanel {
  public:
    // The display timer's delay after the start and its period.
    static constexpr uint32_t kDisplayDelayMs = 100;
    static constexpr uint32_t kDisplayPeriodMs = 50;
    // Columns of the list: the id, four counters, the error rate.
    static constexpr size_t kColumns = 6;

    explicit TestPanel(PanelHost& host);
    // A test still going is stopped: it counts into this object's array.
    ~TestPanel();
    TestPanel(const TestPanel&) = delete;
    TestPanel& operator=(const TestPanel&) = delete;

    void AttachSite(SiteContext& site);
    void ShowStation(uint8_t stationIndex);
    bool Running() const { return !idle_; }

    TickTree& Ticks() { return ticks_; }
    const TickTree& Ticks() const { return ticks_; }

    // The start/stop button pressed at nowMs: kStarted, kStopped, kRefused
    // or kIgnored.
    PressOutcome Press(uint32_t nowMs);
    // One tick of the display timer. False when the timer is to stop.
    bool Tick();
    // "计数清零", when it is enabled.
    void ClearPressed();
    bool ClearEnabled() const { return clearEnabled_; }

    const char* ButtonText() const { return idle_ ? "开始测试" : "停止测试"; }
    size_t Rows() const { return cells_.size(); }
    const std::string& Cell(size_t row, size_t column) const { return cells_.at(row).at(column); }
    // Rows with a text written since the last call.
    std::vector<size_t> TakeChangedRows() { return changed_.Take(); }

    // The counters that a running test writes, one entry per terminal of
    // the shown station in table order. They stay in place for the life of
    // the panel, which never moves.
    _TESTSTATUS* Entries() { return entries_.data(); }

  private:
    void ClearCounters();
    void SetCell(size_t row, size_t column, std::string text);

    PanelHost& host_;
    SiteContext* site_ = nullptr;
    uint8_t station_ = 0;
    TickTree ticks_;
    PressGate gate_;
    bool idle_ = true;
    bool clearEnabled_ = true;
    alignas(uint32_t) std::array<_TESTSTATUS, QM_MAX_TERMINALS> entries_{};
    std::array<std::array<uint32_t, 4>, QM_MAX_TERMINALS> previous_{};
    std::vector<uint8_t> rowIds_;
    std::vector<std::array<std::string, kColumns>> cells_;
    ChangedRows changed_;
};

}  // namespace qm
