#include "panels/panel_rules.h"

#include <algorithm>

namespace qm {

void TickTree::Reset(size_t terminals) {
    ticks_.assign(terminals, false);
    root_ = false;
    selectAll_ = false;
    count_ = 0;
}

void TickTree::SelectAllClicked(bool value) {
    std::fill(ticks_.begin(), ticks_.end(), value);
    root_ = value;
    selectAll_ = value;
    count_ = value ? static_cast<int32_t>(ticks_.size()) : 0;
}

void TickTree::RootClicked() {
    SelectAllClicked(!root_);
}

void TickTree::TerminalClicked(size_t i) {
    if (i >= ticks_.size())
        return;
    // Counted as the ticks stand before the flip, then corrected for it.
    int32_t count = static_cast<int32_t>(std::count(ticks_.begin(), ticks_.end(), true));
    count += ticks_[i] ? -1 : 1;
    ticks_[i] = !ticks_[i];
    count_ = count;
    selectAll_ = count == static_cast<int32_t>(ticks_.size());
    root_ = selectAll_;
}

std::vector<size_t> ChangedRows::Take() {
    std::vector<size_t> rows;
    for (size_t row = 0; row < marks_.size(); ++row)
        if (marks_[row])
            rows.push_back(row);
    std::fill(marks_.begin(), marks_.end(), false);
    return rows;
}

std::vector<uint8_t> TickedIds(const TickTree& ticks, const uint8_t* ids, size_t count) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < count && i < ticks.Size(); ++i) {
        if (ticks.Ticked(i) && std::find(out.begin(), out.end(), ids[i]) == out.end())
            out.push_back(ids[i]);
    }
    return out;
}

}  // namespace qm
