#pragma once

#include <QByteArray>
#include <QString>

// The value of an Authorization header for HTTP Basic authentication: "Basic " and the base64 of
// "user:password" turned into bytes. Without a charset every character up to U+00FF gives the byte of
// its code and any other character "?"; with a charset a server named in its Basic challenge (and that
// this system knows), the text is encoded in that charset instead.
QByteArray BasicAuthorization(const QString& userName, const QString& password,
                              const QByteArray& charset = {});

// Whether charset names a character set that BasicAuthorization can encode into.
bool IsKnownCharset(const QByteArray& charset);
