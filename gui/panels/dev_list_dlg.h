// The device list panel: the terminals of one base station as large icons
// labelled with their ids, a handheld with a grey screen for a terminal
// without a logged-on operator and a bright green screen for one with. The
// rules are DeviceList's; this widget draws what they say and asks them
// twice a second what changed.
#pragma once

#include <QListWidget>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "panels/device_list.h"

namespace qm {

class CDevListDlg : public QWidget {
    Q_OBJECT

  public:
    explicit CDevListDlg(QWidget* parent = nullptr);

    // Binds the site, shows station 0 and starts the refresh.
    void AttachSite(SiteContext& site);
    void ShowStation(uint8_t station);

    QListWidget* List() const { return list_; }

  private:
    void Fill();
    void Refresh();
    QListWidgetItem* MakeItem(const DeviceList::Item& item) const;

    DeviceList rules_;
    QListWidget* list_;
    QTimer refresh_;
    std::array<QIcon, 2> pictures_;
};

}  // namespace qm
