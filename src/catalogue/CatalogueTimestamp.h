#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

// The catalogue shows every time at this fixed offset from UTC, in seconds.
constexpr int CatalogueOffsetSeconds = -3 * 3600;

// Reads an ISO 8601 date and time as the storage service sends it: "yyyy-mm-dd", optionally "T" and
// "hh:mm:ss" with an optional fraction (kept to the millisecond) and an optional zone, "Z" or a sign
// with "hh:mm", "hhmm" or "hh". Without "T" the time is midnight; without a zone the time is UTC.
// Returns the time in UTC. Throws TError "Invalid date string: %s", "Invalid time
// string: %s" or "Invalid time Offset string: %s" naming the part that cannot be read.
QDateTime ReadIsoTimestamp(const QString& text);

// ReadIsoTimestamp for UTF-8 text, as milliseconds since 1970 UTC, with the same errors. The form S3
// sends ("yyyy-mm-ddThh:mm:ss.zzzZ") is read here directly; any other goes through ReadIsoTimestamp.
qint64 ReadIsoTimestampMsecs(QByteArrayView text);

// The text S3 sends for this time, "yyyy-mm-ddThh:mm:ss.zzzZ"; none outside the years 1 to 9999.
std::optional<std::array<char, 24>> CanonicalTimestampText(qint64 msecs);

// The catalogue shows every time at a fixed UTC-03:00, with no daylight-saving rule and without
// regard for the user's own time zone.
QDateTime ToCatalogueZone(const QDateTime& time);
