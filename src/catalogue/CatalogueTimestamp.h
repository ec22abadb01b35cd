#pragma once

#include <QDateTime>
#include <QString>

// Reads an ISO 8601 date and time as the storage service sends it: "yyyy-mm-dd", optionally "T" and
// "hh:mm:ss" with an optional fraction (kept to the millisecond) and an optional zone, "Z" or a sign
// with "hh:mm", "hhmm" or "hh". Without "T" the time is midnight; without a zone the time is UTC.
// Returns the time in UTC. Throws Error "Invalid date string: %s", "Invalid time
// string: %s" or "Invalid time Offset string: %s" naming the part that cannot be read.
QDateTime ReadIsoTimestamp(const QString& text);

// The catalogue shows every time at a fixed UTC-03:00, with no daylight-saving rule and without
// regard for the user's own time zone.
QDateTime ToCatalogueZone(const QDateTime& time);
