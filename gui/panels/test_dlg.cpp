#include "gui/panels/test_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/panels/terminal_picker.h"
#include "platform/clock.h"

namespace qm {

namespace {

constexpr int kColumnWidths[TestPanel::kColumns] = {80, 80, 80, 62, 62, 62};

}  // namespace

CTestDlg::CTestDlg(PanelHost& host, QWidget* parent)
    : QWidget(parent),
      rules_(host),
      picker_(new TerminalPicker(rules_.Ticks(), this)),
      clear_(new QPushButton("计数清零", this)),
      button_(new QPushButton(rules_.ButtonText(), this)),
      list_(new QTableWidget(0, TestPanel::kColumns, this)) {
    clear_->setObjectName("clear");
    button_->setObjectName("startStop");
    connect(clear_, &QPushButton::clicked, this, [this] {
        rules_.ClearPressed();
        ShowRows();
    });
    connect(button_, &QPushButton::clicked, this, &CTestDlg::OnPress);

    list_->setObjectName("report");
    list_->setHorizontalHeaderLabels({"编号", "发送总数", "接受总数", "错误", "超时", "误码率"});
    for (int c = 0; c < static_cast<int>(TestPanel::kColumns); ++c)
        list_->setColumnWidth(c, kColumnWidths[c]);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(22);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear_);
    buttons->addWidget(button_);
    auto* right = new QVBoxLayout;
    right->addLayout(buttons);
    right->addWidget(list_, 1);
    auto* all = new QHBoxLayout(this);
    all->addWidget(picker_);
    all->addLayout(right, 1);
    picker_->setFixedWidth(180);
    setMinimumSize(640, 400);

    displayDelay_.setSingleShot(true);
    connect(&displayDelay_, &QTimer::timeout, this,
            [this] { display_.start(TestPanel::kDisplayPeriodMs); });
    connect(&display_, &QTimer::timeout, this, &CTestDlg::OnTick);
}

void CTestDlg::AttachSite(SiteContext& site) {
    rules_.AttachSite(site);
    FillStation();
}

void CTestDlg::ShowStation(uint8_t stationIndex) {
    rules_.ShowStation(stationIndex);
    FillStation();
}

void CTestDlg::FillStation() {
    std::vector<std::string> labels;
    list_->setRowCount(static_cast<int>(rules_.Rows()));
    for (size_t row = 0; row < rules_.Rows(); ++row) {
        labels.push_back(rules_.Cell(row, 0));
        for (size_t c = 0; c < TestPanel::kColumns; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            list_->setItem(static_cast<int>(row), static_cast<int>(c), item);
        }
    }
    picker_->Fill(labels);
    // Every row: a list just built has no texts yet.
    for (size_t row = 0; row < rules_.Rows(); ++row)
        for (size_t c = 0; c < TestPanel::kColumns; ++c)
            list_->item(static_cast<int>(row), static_cast<int>(c))
                ->setText(QString::fromStdString(rules_.Cell(row, c)));
    ShowRows();
}

void CTestDlg::keyPressEvent(QKeyEvent* event) {
    if (!SwallowDialogKey(event))
        QWidget::keyPressEvent(event);
}

void CTestDlg::OnPress() {
    if (rules_.Press(TickCount()) == PressOutcome::kStarted) {
        display_.stop();
        displayDelay_.start(TestPanel::kDisplayDelayMs);
    }
    ShowRows();
}

void CTestDlg::OnTick() {
    if (!rules_.Tick())
        display_.stop();
    ShowRows();
}

void CTestDlg::ShowRows() {
    for (size_t row : rules_.TakeChangedRows())
        for (size_t c = 1; c < TestPanel::kColumns; ++c)
            list_->item(static_cast<int>(row), static_cast<int>(c))
                ->setText(QString::fromStdString(rules_.Cell(row, c)));
    button_->setText(rules_.ButtonText());
    clear_->setEnabled(rules_.ClearEnabled());
}

}  // namespace qm
