#pragma once

#include <QRect>

// Where a window's frame goes so that all of it is on the screen's available area: no larger than the
// area, and moved in from any edge it crosses. A frame already inside stays where it is.
QRect FittedOnScreen(const QRect& frame, const QRect& available);
