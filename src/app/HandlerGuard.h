#pragma once

#include "ErrorBox.h"

#include <exception>

// Runs an event handler and shows any error it raises in the standard error box. Every handler of the
// window is connected through this one place, so no error escapes into the event loop.
template <typename Handler> void ReportErrors(QWidget* owner, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowErrorBox(owner, QString::fromUtf8(error.what()));
    }
}
