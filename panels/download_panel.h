// The download panel's rules: the operator ticks terminals of one base
// station and kinds of master data, starts a download run with one button
// and stops it with the same, and reads one status line per terminal. The
// widget (CDownloadDlg) shows what this class holds and forwards the
// operator's clicks and its timers to it.
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

// A box of "下载内容": the files of the download list it sends when ticked.
struct ContentBox {
    const char* label;
    bool byDefault;
    uint8_t firstFile;  // index in the download file list
    uint8_t fileCount;  // set meals and recommendations come as two files
};
inline constexpr size_t kContentBoxCount = 9;
inline constexpr std::array<ContentBox, kContentBoxCount> kContentBoxes = {{
    {"菜品", true, 0, 1},
    {"菜品类别", true, 1, 1},
    {"包房名称", true, 2, 1},
    {"菜品套餐", true, 3, 2},
    {"推荐菜品", true, 5, 2},
    {"客户要求", true, 7, 1},
    {"退菜理由", true, 8, 1},
    {"短信息编码", true, 9, 1},
    {"新改菜品", false, 10, 1},
}};
// The boxes as the group shows them, three to a row.
inline constexpr std::array<uint8_t, kContentBoxCount> kContentBoxLayout = {0, 8, 1, 3, 4,
                                                                            2, 6, 5, 7};
using ContentBoxes = std::array<bool, kContentBoxCount>;

// Fills the selection's fileFlags: 1 for every file of a ticked box.
void FillFileFlags(const ContentBoxes& boxes, _DCBSELPARAM& selection);

class DownloadPanel {
  public:
    // How long a start waits for the back-end's go-ahead at most, and the
    // poll timer's delay after the start and its period.
    static constexpr uint32_t kGoAheadLimitMs = 3000;
    static constexpr uint32_t kPollDelayMs = 100;
    static constexpr uint32_t kPollPeriodMs = 100;

    explicit DownloadPanel(PanelHost& host);
    // A run still going is stopped: nobody would watch it any more.
    ~DownloadPanel();
    DownloadPanel(const DownloadPanel&) = delete;
    DownloadPanel& operator=(const DownloadPanel&) = delete;

    // Binds the panel to the site, once, and shows its first station.
    void AttachSite(SiteContext& site);
    // Shows the terminals of the station at this place of site.stations.
    void ShowStation(uint8_t stationIndex);
    // From the accepted start press to the end of the run.
    bool Running() const { return phase_ != Phase::kIdle; }

    TickTree& Ticks() { return ticks_; }
    const TickTree& Ticks() const { return ticks_; }
    ContentBoxes& Boxes() { return boxes_; }
    const ContentBoxes& Boxes() const { return boxes_; }

    // The start/stop button pressed at nowMs. A start posts notice 11 to the
    // back-end and answers kAwaitGoAhead: the caller then calls Launch()
    // once the go-ahead came or kGoAheadLimitMs passed.
    PressOutcome Press(uint32_t nowMs);
    // Starts the run that waits for the go-ahead. False when none waits (the
    // operator stopped it meanwhile).
    bool Launch();
    // One tick of the poll timer. False when the timer is to stop.
    bool Poll();
    // The poll's work once the service answered: result 0 no run, 1
    // searching, 2 downloading, 3 finished, 4 a link test holds the link.
    bool Step(uint32_t result, const _UPDATESTATUS& status);

    const char* ButtonText() const { return Running() ? "停止下载" : "开始下载"; }
    size_t Rows() const { return rowIds_.size(); }
    std::string RowId(size_t row) const;
    const std::string& RowStatus(size_t row) const { return rowStatus_.at(row); }
    // A failed terminal of the last run is shown on red.
    bool RowRed(size_t row) const;
    // Rows whose status text was written since the last call.
    std::vector<size_t> TakeChangedRows() { return changed_.Take(); }
    const _DCBSELPARAM& Selection() const { return selection_; }

  private:
    enum class Phase { kIdle, kAwaitingGoAhead, kRunning };

    void Stop();
    void SetRowStatus(size_t row, std::string text);
    // The text for terminal state v, or nothing for an unknown state.
    bool StatusText(uint8_t v, std::string* out) const;
    size_t RowOf(uint8_t dcbId) const;

    PanelHost& host_;
    SiteContext* site_ = nullptr;
    uint8_t station_ = 0;
    TickTree ticks_;
    ContentBoxes boxes_{};
    PressGate gate_;
    Phase phase_ = Phase::kIdle;
    _DCBSELPARAM selection_{};
    _UPDATESTATUS status_{};
    _UPDATESTATUS previous_{};
    std::vector<uint8_t> rowIds_;
    std::vector<std::string> rowStatus_;
    ChangedRows changed_;
};

}  // namespace qm
