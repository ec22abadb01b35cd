#include "account/BasicCredentials.h"

#include <QList>
#include <QStringEncoder>

namespace {

QByteArray Latin1OrQuestionMarks(const QString& text) {
    QByteArray bytes;
    for (const uint code : text.toUcs4())
        bytes.append(code <= 0xFF ? char(code) : '?');
    return bytes;
}

} // namespace

bool IsKnownCharset(const QByteArray& charset) {
    return !charset.isEmpty() && QStringEncoder(charset.constData()).isValid();
}

QByteArray BasicAuthorization(const QString& userName, const QString& password, const QByteArray& charset) {
    const QString credentials = userName + u':' + password;
    QByteArray bytes;
    if (IsKnownCharset(charset)) {
        QStringEncoder encoder(charset.constData());
        bytes = encoder.encode(credentials);
    } else {
        bytes = Latin1OrQuestionMarks(credentials);
    }
    return "Basic " + bytes.toBase64();
}
