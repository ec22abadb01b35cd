#pragma once

#include <QString>

#include <functional>

// Appends one message to the activity log; the log adds the timestamp.
using TLogFunction = std::function<void(const QString& message)>;
