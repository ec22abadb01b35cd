#include "support/S3TestServer.h"

#include "config/BuildSettings.h"
#include "core/Curl.h"
#include "support/FixturePort.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QUrl>

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

struct TCurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct TCurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t ReadFromDevice(char* buffer, size_t size, size_t count, void* device) {
    const qint64 read = static_cast<QIODevice*>(device)->read(buffer, qint64(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : size_t(read);
}

size_t AppendToByteArray(char* data, size_t size, size_t count, void* body) {
    static_cast<QByteArray*>(body)->append(data, qsizetype(size * count));
    return size * count;
}

// Object keys go into the path one segment at a time, each percent-encoded.
QByteArray EncodedKey(const QString& key) {
    QByteArrayList segments;
    for (const QString& segment : key.split(u'/'))
        segments.append(QUrl::toPercentEncoding(segment));
    return segments.join('/');
}

} // namespace

TS3TestServer TS3TestServer::FromFixture() {
    return TS3TestServer(FixturePort(QStringLiteral("s3rver")));
}

TS3ConnectionInfo TS3TestServer::ConnectionInfo() const {
    TS3ConnectionInfo info;
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(FPort);
    return info;
}

QString TS3TestServer::UniqueBucketName(const QString& stem) {
    static std::atomic<int> counter{0};
    return QStringLiteral("%1-%2-%3")
        .arg(stem.toLower())
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

namespace {

// One path-style request to the server; anything but a 2xx answer fails the calling test.
void Send(quint16 port, const char* method, const QByteArray& path, QIODevice* upload = nullptr,
          const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) + path;
    std::unique_ptr<CURL, TCurlHandleDeleter> curl(curl_easy_init());
    if (!curl)
        throw std::runtime_error("curl_easy_init failed");
    std::unique_ptr<curl_slist, TCurlListDeleter> headerList;
    auto addHeader = [&headerList](const QByteArray& line) {
        headerList.reset(curl_slist_append(headerList.release(), line.constData()));
    };
    addHeader("Expect:");
    for (const auto& [name, value] : headers)
        addHeader(name + ": " + value);

    QByteArray body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, AppendToByteArray);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    if (upload) {
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, ReadFromDevice);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, upload);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, curl_off_t(upload->size()));
    }
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK)
        throw std::runtime_error(QStringLiteral("%1 %2: %3")
                                     .arg(QLatin1StringView(method), QString::fromUtf8(url),
                                          QString::fromUtf8(curl_easy_strerror(result)))
                                     .toStdString());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        throw std::runtime_error(QStringLiteral("%1 %2 answered %3: %4")
                                     .arg(QLatin1StringView(method), QString::fromUtf8(url))
                                     .arg(status)
                                     .arg(QString::fromUtf8(body))
                                     .toStdString());
}

QByteArray ObjectPath(const QString& bucket, const QString& key) {
    return '/' + bucket.toUtf8() + '/' + EncodedKey(key);
}

} // namespace

void TS3TestServer::CreateBucket(const QString& bucket) {
    Send(FPort, "PUT", '/' + bucket.toUtf8());
}

void TS3TestServer::PutObject(const QString& bucket, const QString& key, const QByteArray& data,
                              const QList<QPair<QByteArray, QByteArray>>& headers) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    Send(FPort, "PUT", ObjectPath(bucket, key), &buffer, headers);
}

void TS3TestServer::PutFile(const QString& bucket, const QString& key, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()).toStdString());
    Send(FPort, "PUT", ObjectPath(bucket, key), &file);
}

void TS3TestServer::DeleteObject(const QString& bucket, const QString& key) {
    Send(FPort, "DELETE", ObjectPath(bucket, key));
}
