#include "gui/panels/dev_list_dlg.h"

#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <memory>

namespace qm {
namespace {

constexpr int kRefreshMs = 500;
constexpr int kPictureSize = 32;

// A handheld terminal: dark body, a screen, a few keys below it.
QIcon TerminalPicture(const QColor& screen) {
    QPixmap picture(kPictureSize, kPictureSize);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(QColor(70, 74, 82));
    p.drawRoundedRect(QRectF(7.5, 1.5, 17, 29), 3, 3);
    p.setBrush(screen);
    p.drawRect(QRectF(10.5, 4.5, 11, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 200, 200));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) p.drawRect(11 + col * 4, 19 + row * 3, 2, 2);
    return QIcon(picture);
}

}  // namespace

CDevListDlg::CDevListDlg(QWidget* parent)
    : QWidget(parent),
      list_(new QListWidget(this)),
      pictures_{TerminalPicture(QColor(150, 150, 150)), TerminalPicture(QColor(40, 255, 40))} {
    setFixedSize(540, 318);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    list_->setViewMode(QListView::IconMode);
    list_->setIconSize(QSize(kPictureSize, kPictureSize));
    list_->setMovement(QListView::Static);
    list_->setResizeMode(QListView::Adjust);
    list_->setGridSize(QSize(64, 64));
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &CDevListDlg::Refresh);
}

QListWidgetItem* CDevListDlg::MakeItem(const DeviceList::Item& item) const {
    return new QListWidgetItem(pictures_[item.picture], QString::fromStdString(item.label));
}

void CDevListDlg::AttachSite(SiteContext& site) {
    rules_.AttachSite(site);
    Fill();
    refresh_.start();
}

void CDevListDlg::ShowStation(uint8_t station) {
    rules_.ShowStation(station);
    Fill();
}

void CDevListDlg::Fill() {
    list_->clear();
    for (const DeviceList::Item& item : rules_.Items()) list_->addItem(MakeItem(item));
}

void CDevListDlg::Refresh() {
    for (size_t i : rules_.Refresh()) {
        const int row = static_cast<int>(i);
        std::unique_ptr<QListWidgetItem> replaced(list_->takeItem(row));
        list_->insertItem(row, MakeItem(rules_.Items()[i]));
    }
}

}  // namespace qm
