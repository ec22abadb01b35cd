#include "storage/S3Results.h"

#include "core/Text.h"

bool TS3NameValueList::Contains(const QString& name) const {
    return IndexOfName(FEntries, name) >= 0;
}

QString TS3NameValueList::Value(const QString& name) const {
    const qsizetype index = IndexOfName(FEntries, name);
    return index < 0 ? QString() : FEntries[index].second;
}
