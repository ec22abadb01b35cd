#include "app/WindowPlacement.h"

#include <algorithm>

QRect FittedOnScreen(const QRect& frame, const QRect& available) {
    const QSize size = frame.size().boundedTo(available.size());
    const int x = std::clamp(frame.x(), available.left(), available.right() - size.width() + 1);
    const int y = std::clamp(frame.y(), available.top(), available.bottom() - size.height() + 1);
    return {QPoint(x, y), size};
}
