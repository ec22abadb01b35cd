#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The catalogue keeps its text fields as narrow text, which on this platform is UTF-8, so every
// character survives. A field has a width in bytes; longer values are cut at the last whole
// character that fits, never inside one.
QByteArray ToNarrowField(const QString& text, qsizetype maxBytes);
// The longest start of narrow text that fits in maxBytes without cutting a character.
QByteArrayView NarrowPrefix(QByteArrayView text, qsizetype maxBytes);

// Unicode simple lower-casing of narrow text, one character at a time (İ becomes i, not i̇), so
// that lower-casing never changes the number of characters.
QByteArray LowerNarrow(QByteArrayView text);
// Whether the text is ASCII without capitals, so that lower-casing leaves it as it is.
bool IsLowerAscii(QByteArrayView text);

// Simple lower-casing of UTF-16 text with the same mapping as LowerNarrow.
QString LowerText(const QString& text);
