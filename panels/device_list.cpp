#include "panels/device_list.h"

#include <algorithm>
#include <cstdio>

namespace qm {

void DeviceList::AttachSite(const SiteContext& site) {
    site_ = &site;
    for (auto& station : drawn_) station.fill(0);
    ShowStation(0);
}

size_t DeviceList::TerminalCount() const {
    if (!site_ || station_ >= std::min<uint32_t>(site_->stationCount, QM_MAX_STATIONS))
        return 0;
    return std::min<size_t>(site_->stations[station_].dcbCount, QM_MAX_TERMINALS);
}

DeviceList::Item DeviceList::MakeItem(size_t terminal) const {
    const _DEVINFO& station = site_->stations[station_];
    char label[8];
    std::snprintf(label, sizeof label, "%.3d", station.dcbIds[terminal]);
    return {label, drawn_[station_][terminal] != 0 ? 1 : 0};
}

const std::vector<DeviceList::Item>& DeviceList::ShowStation(uint8_t station) {
    station_ = station;
    items_.clear();
    const size_t count = TerminalCount();
    for (size_t i = 0; i < count; ++i) {
        drawn_[station_][i] = site_->stations[station_].dcbState[i];
        items_.push_back(MakeItem(i));
    }
    return items_;
}

std::vector<size_t> DeviceList::Refresh() {
    std::vector<size_t> changed;
    const size_t count = std::min(TerminalCount(), items_.size());
    for (size_t i = 0; i < count; ++i) {
        const int32_t word = site_->stations[station_].dcbState[i];
        if (word == drawn_[station_][i])
            continue;
        drawn_[station_][i] = word;
        items_[i] = MakeItem(i);
        changed.push_back(i);
    }
    return changed;
}

}  // namespace qm
