#pragma once

#include "core/Error.h"

#include <QString>

#include <exception>
#include <functional>

class QWidget;

// The standard error box: critical icon, one OK button, the title "Corvane" and the message of the
// error. Every error a handler raises ends up here.

// The text the box shows: the message with a full stop appended, unless it is empty or its last
// character is a full stop or has a lower code (a blank, "!", ",", ")" and the like).
QString ErrorBoxText(const QString& message);

// Shows the box modally over parent and returns once the user has closed it.
void ShowErrorBox(QWidget* parent, const QString& message);

// For tests: while a handler is set, ShowErrorBox passes it the box's text instead of showing the box.
// An empty function restores the box.
void SetErrorBoxHandler(std::function<void(const QString& text)> handler);

// Runs an event handler and shows any error it raises in the standard error box. Handlers are connected
// through this one place, so no error escapes into Qt's event dispatching.
template <typename THandler> void ReportErrors(QWidget* owner, THandler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowErrorBox(owner, MessageOf(error));
    }
}
