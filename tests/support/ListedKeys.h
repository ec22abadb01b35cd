#pragma once

#include "storage/S3Results.h"

#include <QString>
#include <QStringList>

// The keys of a listing page, in the order listed.
inline QStringList ListedKeys(const TS3ListingPage& page) {
    QStringList keys;
    for (const TS3ListedObject& object : page.Objects)
        keys.append(QString::fromUtf8(object.Key));
    return keys;
}
