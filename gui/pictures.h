// The pictures of the main window, drawn by the program: the four buttons'
// 70x40 pictures with their labels, and the icon of the window and the tray.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qm {

// What a button's picture shows. Each panel button has a colour picture
// for when its panel is the one shown and a grey one otherwise.
enum class ButtonPicture {
    kDeviceListColour,
    kDeviceListGrey,
    kLinkTestColour,
    kLinkTestGrey,
    kDownloadColour,
    kDownloadGrey,
    kPower,  // hide to tray: a power symbol and 退出
};

inline constexpr int kButtonPictureWidth = 70;
inline constexpr int kButtonPictureHeight = 40;

QPixmap DrawButtonPicture(ButtonPicture which);
// A handheld terminal sending by radio.
QIcon DrawAppIcon();

}  // namespace qm
