// The left column of the download and link test panels: the tree of the
// shown station's terminals with check boxes, and below it "全选" with the
// count of ticked terminals. It draws a TickTree and hands it every click.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "panels/panel_rules.h"

class QCheckBox;
class QKeyEvent;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class TerminalPicker : public QWidget {
    Q_OBJECT

  public:
    TerminalPicker(TickTree& ticks, QWidget* parent);

    // Rebuilds the tree: the root "设备列表" over one item per label.
    void Fill(const std::vector<std::string>& labels);
    // Shows the ticks, "全选" and the count as the model holds them.
    void ShowTicks();

  private:
    void OnItemChanged(QTreeWidgetItem* item, int column);

    TickTree& ticks_;
    QTreeWidget* tree_;
    QCheckBox* selectAll_;
    QLabel* count_;
    // Set while the model's ticks are written into the tree, whose
    // itemChanged must then not count as the operator's click.
    bool showing_ = false;
};

// A panel takes Enter and Esc itself: passed on, they would close or hide
// the window that holds it. True when the key was one of them.
bool SwallowDialogKey(QKeyEvent* event);

}  // namespace qm
