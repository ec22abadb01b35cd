#include "storage/S3Crypto.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

// QtCore's hashes, for Windows, where the build has no OpenSSL. On Linux OpenSSL's are used: its
// SHA-256 is several times faster (tools/bench/crypto).

QByteArray Sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray HmacSha256(const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}
