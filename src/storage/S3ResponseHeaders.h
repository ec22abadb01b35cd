#pragma once

#include "storage/S3Results.h"

#include <QByteArray>
#include <QList>

// The headers of one answer from its raw header lines (status line included). A line gives a header
// when it holds ":" after its first character: name before the first ":", value after it, both trimmed
// of blanks and control characters. Set-Cookie is left out; a repeated name (letter case ignored) has
// its value appended to the first one's after ", ".
TS3NameValueList ParseResponseHeaders(const QList<QByteArray>& lines);
