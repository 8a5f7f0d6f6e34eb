#include "gui/panels/terminal_picker.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qm {

namespace {

Qt::CheckState Tick(bool ticked) {
    return ticked ? Qt::Checked : Qt::Unchecked;
}

}  // namespace

TerminalPicker::TerminalPicker(TickTree& ticks, QWidget* parent)
    : QWidget(parent),
      ticks_(ticks),
      tree_(new QTreeWidget(this)),
      selectAll_(new QCheckBox("全选")),
      count_(new QLabel("0")) {
    tree_->setObjectName("terminals");
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    selectAll_->setObjectName("selectAll");
    count_->setObjectName("count");

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(frame);
    row->addWidget(selectAll_);
    row->addStretch();
    row->addWidget(new QLabel("共:"));
    row->addWidget(count_);
    row->addWidget(new QLabel("个"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(tree_, 1);
    column->addWidget(frame);

    connect(selectAll_, &QCheckBox::clicked, this, [this](bool checked) {
        ticks_.SelectAllClicked(checked);
        ShowTicks();
    });
    connect(tree_, &QTreeWidget::itemChanged, this, &TerminalPicker::OnItemChanged);
}

void TerminalPicker::Fill(const std::vector<std::string>& labels) {
    showing_ = true;
    tree_->clear();
    auto* root = new QTreeWidgetItem(tree_, QStringList("设备列表"));
    for (const std::string& label : labels)
        new QTreeWidgetItem(root, QStringList(QString::fromStdString(label)));
    root->setExpanded(true);
    showing_ = false;
    ShowTicks();
}

void TerminalPicker::ShowTicks() {
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    showing_ = true;
    if (root) {
        root->setCheckState(0, Tick(ticks_.RootTicked()));
        for (int i = 0; i < root->childCount(); ++i)
            root->child(i)->setCheckState(0, Tick(ticks_.Ticked(static_cast<size_t>(i))));
    }
    selectAll_->setChecked(ticks_.SelectAll());
    count_->setText(QString::fromStdString(ticks_.CountText()));
    showing_ = false;
}

void TerminalPicker::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (showing_ || column != 0)
        return;
    // The tree has flipped the tick already; the model counts the click as
    // it stood before, and what it decides is then shown.
    if (QTreeWidgetItem* parent = item->parent())
        ticks_.TerminalClicked(static_cast<size_t>(parent->indexOfChild(item)));
    else
        ticks_.RootClicked();
    tree_->setCurrentItem(item);
    ShowTicks();
}

bool SwallowDialogKey(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return true;
        default:
            return false;
    }
}

}  // namespace qm
