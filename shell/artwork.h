#pragma once

#include <QColor>
#include <QPixmap>

namespace kestrix {

// The program's own pictures, drawn at run time: the emblem (a kestrel's
// head in a disc) in any colour and size, and the product picture of the
// splash window.
QPixmap emblem(const QColor& disc, int size);
QPixmap productPicture();

// The three pictures of the notification-area icon.
inline const QColor kIconBlue{0x1f, 0x5f, 0xbf};
inline const QColor kIconGreen{0x2e, 0x9a, 0x3c};
inline const QColor kIconRed{0xd0, 0x20, 0x20};

}  // namespace kestrix
