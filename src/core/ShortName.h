#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Names cut to fit a limit keep a short hash of what they stand for, so that two long names that start
// alike never become one.

// The 8 lower-case hex digits that stand for text in a cut name: the start of its SHA-256.
QByteArray ShortHash(QByteArrayView text);

// name (UTF-8) with "~" and the ShortHash of whole put before its extension (its last ".xyz", up to 16
// bytes) when it has one, else at its end.
QByteArray WithShortHash(QByteArrayView name, QByteArrayView whole);

// name when it fits in maxBytes; otherwise WithShortHash of its start, cut at a whole character so that
// the whole fits.
QByteArray NameWithinBytes(QByteArrayView name, qsizetype maxBytes, QByteArrayView whole);
