#include "support/AccountTestService.h"

#include "core/Curl.h"
#include "support/FixturePort.h"

#include <QUrl>

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace {

struct TCurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct TReply {
    QByteArray Body;
    int Connection = 0;
    int Count = 0;
};

size_t AppendBody(char* data, size_t size, size_t count, void* reply) {
    static_cast<TReply*>(reply)->Body.append(data, qsizetype(size * count));
    return size * count;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* reply) {
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon).toLower();
    const int value = line.mid(colon + 1).trimmed().toInt();
    if (name == "x-connection")
        static_cast<TReply*>(reply)->Connection = value;
    else if (name == "x-requests")
        static_cast<TReply*>(reply)->Count = value;
    return size * count;
}

} // namespace

TAccountTestService TAccountTestService::FromFixture() {
    return TAccountTestService(FixturePort(QStringLiteral("account_service")));
}

QString TAccountTestService::BaseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(FPort);
}

std::optional<TAccountTestService::TRequest> TAccountTestService::LastRequest(const QString& userName) const {
    const QByteArray url = BaseUrl().toUtf8() + "/_last-request?user=" + QUrl::toPercentEncoding(userName);
    const std::unique_ptr<CURL, TCurlHandleDeleter> handle(curl_easy_init());
    if (!handle)
        throw std::runtime_error("curl_easy_init failed");
    TReply reply;
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &ReadHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &reply);
    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK)
        throw std::runtime_error(std::string("Asking the account service failed: ") +
                                 curl_easy_strerror(result));
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status == 404)
        return std::nullopt;
    if (status != 200)
        throw std::runtime_error("The account service answered " + std::to_string(status));
    return TRequest{reply.Body, reply.Connection, reply.Count};
}
