// What the main window needs of each of its three panels, whatever class
// draws it: the widget to place, and the two calls every panel offers.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "panels/panel_host.h"
#include "site/site_context.h"

namespace qm {

class StationPanel {
  public:
    virtual ~StationPanel() = default;
    virtual QWidget* Widget() const = 0;
    // Once, right after the panel is made; the panel then shows station 0.
    virtual void AttachSite(SiteContext& site) = 0;
    // The station at this position of the site's table.
    virtual void ShowStation(uint8_t station) = 0;
};

// Any panel widget with AttachSite and ShowStation of its own. The widget
// belongs to its Qt parent; this only speaks to it.
template <class Panel>
class StationPanelOf final : public StationPanel {
  public:
    explicit StationPanelOf(Panel* panel) : panel_(panel) {}
    QWidget* Widget() const override { return panel_; }
    void AttachSite(SiteContext& site) override { panel_->AttachSite(site); }
    void ShowStation(uint8_t station) override { panel_->ShowStation(station); }

  private:
    Panel* panel_;
};

template <class Panel>
std::unique_ptr<StationPanel> AsStationPanel(Panel* panel) {
    return std::make_unique<StationPanelOf<Panel>>(panel);
}

// The device list, the link test panel and the download panel, in that
// order (the order in which a station change reaches them). A slot may stay
// empty: its button then shows an empty panel area.
using PanelSet = std::array<std::unique_ptr<StationPanel>, 3>;
using PanelFactory = std::function<PanelSet(PanelHost& host, QWidget* parent)>;

}  // namespace qm
