#pragma once

#include "core/Error.h"

#include <QObject>

// The child of a window with the given class and object name, as the window's form names it. Throws
// when there is none, so that a renamed control fails the test by its name instead of crashing it.
template <typename T> T* Control(const QObject& window, const char* name) {
    T* control = window.findChild<T*>(QLatin1StringView(name));
    if (!control)
        throw TError(QStringLiteral("%1 has no %2 named %3")
                         .arg(window.objectName(), QLatin1StringView(T::staticMetaObject.className()),
                              QLatin1StringView(name)));
    return control;
}
