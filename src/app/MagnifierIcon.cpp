#include "app/MagnifierIcon.h"

#include <QPainter>
#include <QPixmap>

QIcon MagnifierIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 1.6));
    painter.setBrush(QColor(200, 225, 250));
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    painter.setPen(QPen(QColor(40, 40, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
    return QIcon(pixmap);
}
