#include "gui/pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace qm {
namespace {

const QColor kGrey(135, 135, 135);

struct Look {
    const char* label;
    QColor colour;  // of the colour picture
    bool colourful;
};

Look LookOf(ButtonPicture which) {
    switch (which) {
        case ButtonPicture::kDeviceListColour:
            return {"设备列表", QColor(30, 110, 215), true};
        case ButtonPicture::kDeviceListGrey:
            return {"设备列表", kGrey, false};
        case ButtonPicture::kLinkTestColour:
            return {"测试", QColor(225, 125, 15), true};
        case ButtonPicture::kLinkTestGrey:
            return {"测试", kGrey, false};
        case ButtonPicture::kDownloadColour:
            return {"下载", QColor(30, 150, 70), true};
        case ButtonPicture::kDownloadGrey:
            return {"下载", kGrey, false};
        case ButtonPicture::kPower:
            break;
    }
    return {"退出", QColor(205, 40, 40), true};
}

// Two handhelds side by side.
void DrawDevices(QPainter& p, const QColor& c) {
    for (int x : {24, 37}) {
        p.setPen(QPen(c.darker(140), 1));
        p.setBrush(c);
        p.drawRoundedRect(QRectF(x + 0.5, 2.5, 9, 16), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(x + 2.5, 4.5, 5, 5));
    }
}

// A mast with the waves it sends.
void DrawRadio(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(35, 9), QPointF(35, 19));
    p.drawLine(QPointF(31, 19), QPointF(39, 19));
    p.setBrush(Qt::NoBrush);
    for (int r : {4, 8}) {
        const QRectF box(35 - r, 8 - r, 2 * r, 2 * r);
        p.drawArc(box, -40 * 16, 80 * 16);
        p.drawArc(box, 140 * 16, 80 * 16);
    }
}

// An arrow down into a tray.
void DrawDownload(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(35, 2), QPointF(35, 13));
    p.drawPolyline(QPolygonF({QPointF(30, 9), QPointF(35, 14), QPointF(40, 9)}));
    p.drawPolyline(QPolygonF({QPointF(27, 13), QPointF(27, 18), QPointF(43, 18), QPointF(43, 13)}));
}

// The power symbol: a ring open at the top, a bar through the opening.
void DrawPower(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(28, 4, 14, 14), 120 * 16, 300 * 16);
    p.drawLine(QPointF(35, 2), QPointF(35, 10));
}

}  // namespace

QPixmap DrawButtonPicture(ButtonPicture which) {
    const Look look = LookOf(which);
    QPixmap picture(kButtonPictureWidth, kButtonPictureHeight);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(look.colourful ? look.colour.lighter(185) : QColor(232, 232, 232));
    p.drawRoundedRect(QRectF(0.5, 0.5, kButtonPictureWidth - 1, kButtonPictureHeight - 1), 5, 5);
    switch (which) {
        case ButtonPicture::kDeviceListColour:
        case ButtonPicture::kDeviceListGrey:
            DrawDevices(p, look.colour);
            break;
        case ButtonPicture::kLinkTestColour:
        case ButtonPicture::kLinkTestGrey:
            DrawRadio(p, look.colour);
            break;
        case ButtonPicture::kDownloadColour:
        case ButtonPicture::kDownloadGrey:
            DrawDownload(p, look.colour);
            break;
        case ButtonPicture::kPower:
            DrawPower(p, look.colour);
            break;
    }
    QFont font;
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(look.colourful ? look.colour.darker(130) : QColor(110, 110, 110));
    p.drawText(QRect(0, 21, kButtonPictureWidth, 18), Qt::AlignCenter,
               QString::fromUtf8(look.label));
    return picture;
}

QIcon DrawAppIcon() {
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(30, 110, 215);
    p.setPen(QPen(blue.darker(150), 1));
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(4.5, 8.5, 14, 22), 3, 3);
    p.setBrush(QColor(40, 255, 40));
    p.drawRect(QRectF(7.5, 11.5, 8, 7));
    p.setPen(QPen(blue, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int r : {5, 10}) p.drawArc(QRectF(18 - r, 8 - r, 2 * r, 2 * r), 0, 90 * 16);
    return QIcon(icon);
}

}  // namespace qm
