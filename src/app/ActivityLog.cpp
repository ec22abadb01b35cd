#include "app/ActivityLog.h"

QString FormatLogLine(const QDateTime& localTime, const QString& message) {
    return localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(": ") + message;
}
