#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// One activity log line: the local timestamp "yyyy-mm-dd HH:nn:ss", a colon, a blank and the message.
QString FormatLogLine(const QDateTime& localTime, const QString& message);

// Fills each "%s" of a template with the next argument. A template whose placeholders do not match its
// arguments is a programming error and throws, so that no half-made line is logged.
QString FormatLogTemplate(const QString& logTemplate, const QStringList& arguments);
