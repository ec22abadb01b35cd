#pragma once

#include "storage/S3ConnectionInfo.h"

// The key pair of the test build (CMakePresets.json, preset "test"), written out for the tests whose
// expectations were computed with it: the signing table (tests/storage/signature_table.py) does not
// follow the build settings.
inline constexpr const char* TestAccessKeyId = "AKIACORVANE0TEST0001";
inline constexpr const char* TestSecretAccessKey = "Corv4neTest0Secret0Key0Abcdefghij0123456";

// Plain HTTP to the endpoint with the test key pair.
inline TS3ConnectionInfo TestConnection(const QString& endpoint) {
    TS3ConnectionInfo info;
    info.AccountName = QString::fromLatin1(TestAccessKeyId);
    info.AccountKey = QString::fromLatin1(TestSecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = endpoint;
    return info;
}
