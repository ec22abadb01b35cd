#pragma once

#include <QIcon>

// The search button's picture: a magnifying glass, drawn so that no image file or icon theme is needed.
QIcon MagnifierIcon();
