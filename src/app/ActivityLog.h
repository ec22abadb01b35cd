#pragma once

#include <QDateTime>
#include <QString>

// One activity log line: the local timestamp "yyyy-mm-dd HH:nn:ss", a colon, a blank and the message.
QString FormatLogLine(const QDateTime& localTime, const QString& message);
