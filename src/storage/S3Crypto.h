#pragma once

#include <QByteArray>

// SHA-256 of data as 64 lower-case hexadecimal digits.
QByteArray Sha256Hex(const QByteArray& data);
// HMAC-SHA256 (RFC 2104) of message under key: the 32 raw bytes.
QByteArray HmacSha256(const QByteArray& key, const QByteArray& message);
