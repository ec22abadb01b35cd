#pragma once

#include "app/ErrorBox.h"

#include <QStringList>

// While it lives, the standard error box shows nothing and its texts are appended to the given list.
class ErrorBoxCapture {
  public:
    explicit ErrorBoxCapture(QStringList& shown) {
        SetErrorBoxHandler([&shown](const QString& text) { shown.append(text); });
    }
    ~ErrorBoxCapture() { SetErrorBoxHandler({}); }
    ErrorBoxCapture(const ErrorBoxCapture&) = delete;
    ErrorBoxCapture& operator=(const ErrorBoxCapture&) = delete;
};
