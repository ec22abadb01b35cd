#pragma once

#include <QByteArray>
#include <QString>

// The catalogue keeps its text fields as narrow text, which on this platform is UTF-8, so every
// character survives. A field has a width in bytes; longer values are cut at the last whole
// character that fits, never inside one.
QByteArray ToNarrowField(const QString& text, qsizetype maxBytes);

// Unicode simple lower-casing of narrow text, one character at a time (İ becomes i, not i̇), so
// that lower-casing never changes the number of characters.
QByteArray LowerNarrow(const QByteArray& text);

// Simple lower-casing of UTF-16 text with the same mapping as LowerNarrow.
QString LowerText(const QString& text);
