#include "shell/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kestrix {

QPixmap emblem(const QColor& disc, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    QRadialGradient shade(QPointF(12, 10), 22);
    shade.setColorAt(0, disc.lighter(140));
    shade.setColorAt(1, disc.darker(120));
    painter.setPen(QPen(disc.darker(160), 1.2));
    painter.setBrush(shade);
    painter.drawEllipse(QRectF(1, 1, 30, 30));

    // A kestrel's head looking left: crown, hooked beak, cheek stripe, eye.
    QPainterPath head;
    head.moveTo(24, 25);
    head.cubicTo(25, 15, 21, 7, 14, 7);
    head.cubicTo(10, 7, 7.5, 9.5, 7, 12.5);
    head.lineTo(4.5, 14.5);
    head.lineTo(7.2, 15.2);
    head.cubicTo(8, 18, 11, 20, 13, 21.5);
    head.lineTo(12.5, 25);
    head.closeSubpath();
    painter.setPen(QPen(QColor(60, 40, 20), 0.8));
    painter.setBrush(QColor(0xf2, 0xe6, 0xd0));
    painter.drawPath(head);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x5a, 0x6e, 0x8c));
    painter.drawEllipse(QRectF(10.5, 7.2, 9, 4.2));
    painter.setBrush(QColor(40, 30, 20));
    QPainterPath stripe;
    stripe.moveTo(11, 13);
    stripe.lineTo(12.5, 13);
    stripe.lineTo(12, 19);
    stripe.lineTo(10.8, 18.5);
    stripe.closeSubpath();
    painter.drawPath(stripe);
    painter.drawEllipse(QRectF(9.6, 10.4, 2.6, 2.6));
    painter.setBrush(QColor(0xe8, 0xb0, 0x20));
    painter.drawEllipse(QRectF(4.8, 13.3, 2.2, 1.6));
    return pixmap;
}

QPixmap productPicture() {
    QPixmap pixmap(420, 220);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 220);
    sky.setColorAt(0, QColor(0x1f, 0x3f, 0x7f));
    sky.setColorAt(1, QColor(0x6f, 0x9f, 0xdf));
    painter.fillRect(pixmap.rect(), sky);
    painter.drawPixmap(24, 40, emblem(kIconBlue, 128));

    painter.setPen(Qt::white);
    QFont title = painter.font();
    title.setPointSize(30);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(168, 50, 240, 56), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Kestrix"));
    QFont line = painter.font();
    line.setPointSize(10);
    line.setBold(false);
    painter.setFont(line);
    painter.drawText(QRect(170, 110, 240, 60), Qt::AlignLeft | Qt::TextWordWrap,
                     QStringLiteral("FTP user accounts in your database"));
    return pixmap;
}

}  // namespace kestrix
