#include "storage/S3Results.h"

#include <algorithm>

namespace {
auto FindEntry(const QList<QPair<QString, QString>>& entries, const QString& name) {
    return std::find_if(entries.cbegin(), entries.cend(), [&name](const QPair<QString, QString>& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}
} // namespace

bool TS3NameValueList::Contains(const QString& name) const {
    return FindEntry(entries_, name) != entries_.cend();
}

QString TS3NameValueList::Value(const QString& name) const {
    const auto entry = FindEntry(entries_, name);
    return entry == entries_.cend() ? QString() : entry->second;
}
