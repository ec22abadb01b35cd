#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Appends one message to the activity log; the log adds the timestamp.
using TLogFunction = std::function<void(const QString& message)>;

// Appends one message built from a template whose "%s" placeholders take the arguments in order.
using TLogFmtFunction = std::function<void(const QString& logTemplate, const QStringList& arguments)>;
