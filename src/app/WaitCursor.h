#pragma once

#include <QCursor>
#include <QGuiApplication>

// Shows the application-wide hourglass for the life of the object: a long operation that blocks the
// window keeps one on its stack, and every way out of the operation restores the cursor.
class WaitCursor {
  public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
