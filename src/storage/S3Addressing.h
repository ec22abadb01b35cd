#pragma once

#include "storage/S3ConnectionInfo.h"
#include "storage/S3Results.h"

#include <QString>

// StorageURL(bucketName), "/" and the object key. A key holding "%", "?" or "#" has every segment
// encoded by RFC 3986 so that it is asked for under its own name; any other key goes in unchanged
// and the request's path encoding applies.
QString ObjectUrl(const TS3ConnectionInfo& info, const QString& bucketName, const QString& objectName);

// StorageURL(bucketName), "/" and, when there are parameters, "?" and name=value pairs joined by "&",
// names and values in RFC 3986 encoding. The first value (the folder prefix) is trimmed of leading and
// trailing characters at or below the space first, and is sent as the name alone when nothing is left;
// later values (a marker) go exactly as given, since they name a key.
QString ListingUrl(const TS3ConnectionInfo& info, const QString& bucketName, const TS3QueryParams& params);
