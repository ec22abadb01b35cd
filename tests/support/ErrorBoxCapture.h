#pragma once

#include "app/ErrorBox.h"

#include <QStringList>

// While it lives, the standard error box shows nothing and its texts are appended to the given list.
class TErrorBoxCapture {
  public:
    explicit TErrorBoxCapture(QStringList& shown) {
        SetErrorBoxHandler([&shown](const QString& text) { shown.append(text); });
    }
    ~TErrorBoxCapture() { SetErrorBoxHandler({}); }
    TErrorBoxCapture(const TErrorBoxCapture&) = delete;
    TErrorBoxCapture& operator=(const TErrorBoxCapture&) = delete;
};
