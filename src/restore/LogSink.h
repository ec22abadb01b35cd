#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Appends one message to the activity log; the log adds the timestamp.
using TLogFunction = std::function<void(const QString& message)>;

// Fills each "%s" of a log template with the next argument. A template whose placeholders do not match
// its arguments is a programming error and throws, so that no half-made line is logged.
QString FormatLogTemplate(const QString& logTemplate, const QStringList& arguments);
