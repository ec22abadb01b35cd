#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The whole content of a file, or "<unreadable>" when it cannot be opened, so that a comparison shows it.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

// Creates or replaces a file with the given content; false when it cannot be written.
inline bool WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}
