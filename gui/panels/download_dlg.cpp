#include "gui/panels/download_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/panels/terminal_picker.h"
#include "platform/clock.h"

namespace qm {

namespace {

QTableWidgetItem* CentredItem(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

CDownloadDlg::CDownloadDlg(PanelHost& host, QWidget* parent)
    : QWidget(parent),
      rules_(host),
      picker_(new TerminalPicker(rules_.Ticks(), this)),
      button_(new QPushButton(rules_.ButtonText(), this)),
      list_(new QTableWidget(0, 2, this)) {
    auto* content = new QGroupBox("下载内容", this);
    auto* grid = new QGridLayout(content);
    for (size_t at = 0; at < kContentBoxCount; ++at) {
        const size_t b = kContentBoxLayout[at];
        QCheckBox* box = new QCheckBox(kContentBoxes[b].label, content);
        box->setChecked(rules_.Boxes()[b]);
        connect(box, &QCheckBox::toggled, this, [this, b](bool on) { rules_.Boxes()[b] = on; });
        grid->addWidget(box, static_cast<int>(at / 3), static_cast<int>(at % 3));
    }
    button_->setObjectName("startStop");
    button_->setFixedSize(96, 96);
    connect(button_, &QPushButton::clicked, this, &CDownloadDlg::OnPress);

    list_->setObjectName("report");
    list_->setHorizontalHeaderLabels({"编号", "下载情况"});
    list_->setColumnWidth(0, 75);
    list_->setColumnWidth(1, 350);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(22);

    auto* top = new QHBoxLayout;
    top->addWidget(content, 1);
    top->addWidget(button_);
    auto* right = new QVBoxLayout;
    right->addLayout(top);
    right->addWidget(list_, 1);
    auto* all = new QHBoxLayout(this);
    all->addWidget(picker_);
    all->addLayout(right, 1);
    picker_->setFixedWidth(180);
    setMinimumSize(720, 420);

    goAheadLimit_.setSingleShot(true);
    connect(&goAheadLimit_, &QTimer::timeout, this, &CDownloadDlg::Launch);
    pollDelay_.setSingleShot(true);
    connect(&pollDelay_, &QTimer::timeout, this,
            [this] { poll_.start(DownloadPanel::kPollPeriodMs); });
    connect(&poll_, &QTimer::timeout, this, &CDownloadDlg::OnPoll);
}

CDownloadDlg::~CDownloadDlg() = default;

void CDownloadDlg::AttachSite(SiteContext& site) {
    site_ = &site;
    const Event* ready = site.dataReadyEvent.get();
    if (ready && ready->WaitFd() >= 0) {
        goAhead_ = std::make_unique<QSocketNotifier>(ready->WaitFd(), QSocketNotifier::Read);
        goAhead_->setEnabled(false);
        connect(goAhead_.get(), &QSocketNotifier::activated, this, [this, ready] {
            // Readable means set; taking it may still fail when another
            // waiter of the event was quicker.
            if (ready->Acquire())
                Launch();
        });
    }
    rules_.AttachSite(site);
    FillStation();
}

void CDownloadDlg::ShowStation(uint8_t stationIndex) {
    rules_.ShowStation(stationIndex);
    FillStation();
}

void CDownloadDlg::FillStation() {
    std::vector<std::string> labels;
    list_->setRowCount(static_cast<int>(rules_.Rows()));
    for (size_t row = 0; row < rules_.Rows(); ++row) {
        labels.push_back(rules_.RowId(row));
        list_->setItem(static_cast<int>(row), 0, CentredItem(labels.back()));
        list_->setItem(static_cast<int>(row), 1, CentredItem(rules_.RowStatus(row)));
    }
    picker_->Fill(labels);
    ShowRows();
}

void CDownloadDlg::keyPressEvent(QKeyEvent* event) {
    if (!SwallowDialogKey(event))
        QWidget::keyPressEvent(event);
}

void CDownloadDlg::OnPress() {
    switch (rules_.Press(TickCount())) {
        case PressOutcome::kAwaitGoAhead:
            pollDelay_.stop();
            poll_.stop();
            BeginGoAheadWait();
            break;
        case PressOutcome::kStopped:
            // A start still waiting for its go-ahead is called off; the poll
            // timer of a run finds out at its next tick.
            EndGoAheadWait();
            break;
        default:
            break;
    }
    button_->setText(rules_.ButtonText());
    ShowRows();
}

void CDownloadDlg::BeginGoAheadWait() {
    // A go-ahead that came before the press counts, once: the event is
    // auto-reset.
    if (site_->dataReadyEvent && site_->dataReadyEvent->Wait(0)) {
        Launch();
        return;
    }
    if (goAhead_)
        goAhead_->setEnabled(true);
    goAheadLimit_.start(DownloadPanel::kGoAheadLimitMs);
}

void CDownloadDlg::EndGoAheadWait() {
    goAheadLimit_.stop();
    if (goAhead_)
        goAhead_->setEnabled(false);
}

void CDownloadDlg::Launch() {
    EndGoAheadWait();
    if (rules_.Launch())
        pollDelay_.start(DownloadPanel::kPollDelayMs);
}

void CDownloadDlg::OnPoll() {
    if (!rules_.Poll())
        poll_.stop();
    button_->setText(rules_.ButtonText());
    ShowRows();
}

void CDownloadDlg::ShowRows() {
    for (size_t row : rules_.TakeChangedRows())
        list_->item(static_cast<int>(row), 1)
            ->setText(QString::fromStdString(rules_.RowStatus(row)));
    for (size_t row = 0; row < rules_.Rows(); ++row) {
        const QBrush back(rules_.RowRed(row) ? QColor(255, 0, 0) : QColor(Qt::white));
        for (int column = 0; column < 2; ++column)
            list_->item(static_cast<int>(row), column)->setBackground(back);
    }
}

}  // namespace qm
