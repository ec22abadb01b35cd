#include "storage/S3Crypto.h"

#include "core/Error.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

QByteArray Sha256Hex(const QByteArray& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), digest, &length, EVP_sha256(), nullptr) != 1)
        throw TError(QStringLiteral("SHA-256 failed"));
    return QByteArray(reinterpret_cast<const char*>(digest), length).toHex();
}

QByteArray HmacSha256(const QByteArray& key, const QByteArray& message) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.constData(), int(key.size()),
             reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()), mac,
             &length) == nullptr)
        throw TError(QStringLiteral("HMAC-SHA256 failed"));
    return QByteArray(reinterpret_cast<const char*>(mac), length);
}
