// Rules that the download panel and the link test panel share: the tree of
// a station's terminals with its check boxes, and the start/stop button.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The ticks of the terminal tree: a root "设备列表" over the shown station's
// terminals, the "全选" box beside the tree and the count of ticked
// terminals. The tree on screen only shows what this model holds: a click is
// handled before the tick flips, so the model decides every tick.
class TickTree {
  public:
    // The terminals of a newly shown station, all unticked. The count and
    // "全选" start again at zero, so that they never claim ticks the new
    // tree does not have.
    void Reset(size_t terminals);

    // "全选" now reads value: the root and every terminal follow it.
    void SelectAllClicked(bool value);
    // A click on the root's check box, before its tick flips.
    void RootClicked();
    // A click on terminal i's check box, before its tick flips.
    void TerminalClicked(size_t i);

    size_t Size() const { return ticks_.size(); }
    bool Ticked(size_t i) const { return i < ticks_.size() && ticks_[i]; }
    bool RootTicked() const { return root_; }
    bool SelectAll() const { return selectAll_; }
    int32_t Count() const { return count_; }
    // The count as shown between "共:" and "个".
    std::string CountText() const { return std::to_string(count_); }

  private:
    std::vector<bool> ticks_;
    bool root_ = false;
    bool selectAll_ = false;
    int32_t count_ = 0;
};

// The start/stop button of a panel ignores a press that comes less than
// 500 ms after the last one it took, whichever way it goes: an operator's
// double click must not start a run and stop it again at once.
class PressGate {
  public:
    static constexpr uint32_t kQuietMs = 500;

    // Takes the press at nowMs (a 32-bit millisecond tick) unless it is too
    // soon; a taken press restarts the 500 ms even when it is refused later.
    bool Accept(uint32_t nowMs) {
        if (static_cast<uint32_t>(nowMs - last_) < kQuietMs)
            return false;
        last_ = nowMs;
        return true;
    }
    void Reset() { last_ = 0; }

  private:
    uint32_t last_ = 0;
};

// The rows of a panel's list written since the widget last looked, so that
// the widget redraws only those.
class ChangedRows {
  public:
    void Reset(size_t rows, bool changed) { marks_.assign(rows, changed); }
    void Mark(size_t row) { marks_.at(row) = true; }
    // The marked rows in order; the marks are cleared.
    std::vector<size_t> Take();

  private:
    std::vector<bool> marks_;
};

// What a press of the start/stop button led to, for the widget to act on.
enum class PressOutcome {
    kIgnored,       // too soon after the last press
    kRefused,       // a message box told the operator why; nothing started
    kAwaitGoAhead,  // a download waits for the back-end's go-ahead (Launch)
    kStarted,       // the activity runs: start its timer
    kStopped,       // the operator stopped it
};

// The DCB ids of the ticked terminals, in tree order; the tree lists the
// station's terminals in the order of ids, so terminal i carries ids[i]. An
// id that the site file gives twice for the station is listed once: the
// terminal is one device, however often it was written down.
std::vector<uint8_t> TickedIds(const TickTree& ticks, const uint8_t* ids, size_t count);

}  // namespace qm
