#include "account/AccountClient.h"

#include "account/BasicCredentials.h"
#include "account/CookieJar.h"
#include "account/HttpHeaderValues.h"
#include "core/Curl.h"

#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <ctime>

namespace {

constexpr QByteArrayView RequestPath = "/my/account.json";
constexpr const char* AcceptLine = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr const char* UserAgentLine = "User-Agent: Mozilla/3.0 (compatible; Corvane)";

// Enough of a body to tell whether it holds text; the rest is read and dropped so that the connection
// stays usable, and a large answer costs no memory.
constexpr qsizetype KeptBodyBytes = 4096;

// True when a body, read in the charset its answer names, is not empty text. Without a charset this
// system knows, every byte is a character.
bool BodyHasText(const QByteArray& body, const QByteArray& charset) {
    if (body.isEmpty() || !IsKnownCharset(charset))
        return !body.isEmpty();
    QStringDecoder decoder(charset.constData());
    return !QString(decoder.decode(body)).isEmpty();
}

} // namespace

class AccountClient::Impl {
  public:
    Impl(const QString& serviceUrl, AccountClientLimits limits);
    bool Attempt(const QString& userName, const QString& password);

  private:
    // What the current answer said; a new status line (after 100 Continue) starts it afresh.
    struct Answer {
        QByteArray charset;
        QByteArray body;
    };

    bool Configure(AccountClientLimits limits);
    void TakeHeaderLine(QByteArrayView line);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);

    CurlEasy handle_;
    QByteArray url_;
    QByteArray host_;
    bool secure_ = false;
    CookieJar cookies_;
    QByteArray challengeCharset_;
    Answer answer_;
};

AccountClient::Impl::Impl(const QString& serviceUrl, AccountClientLimits limits)
    : handle_(curl_easy_init()) {
    QString base = serviceUrl;
    while (base.endsWith(u'/'))
        base.chop(1);
    const QUrl url(base);
    url_ = base.toUtf8() + RequestPath.toByteArray();
    host_ = url.host().toUtf8();
    secure_ = url.scheme() == u"https";
    if (handle_ && !Configure(limits))
        handle_.reset();
}

bool AccountClient::Impl::Configure(AccountClientLimits limits) {
    CURL* h = handle_.get();
    return curl_easy_setopt(h, CURLOPT_URL, url_.constData()) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4)) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_NOPROXY, "*") == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connect.count())) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits.attempt.count())) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Impl::OnHeader) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_HEADERDATA, this) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::OnBody) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_WRITEDATA, this) == CURLE_OK;
}

bool AccountClient::Impl::Attempt(const QString& userName, const QString& password) {
    if (!handle_)
        return false;

    // Header lines in the order the service expects them, after the Host line libcurl writes; the
    // cookies are ours to send so that their line comes last.
    CurlHeaderList headers;
    const QByteArray cookies = cookies_.CookieHeader(host_, RequestPath, secure_, std::time(nullptr));
    if (!headers.Append(AcceptLine) || !headers.Append(UserAgentLine) ||
        !headers.Append("Authorization: " + BasicAuthorization(userName, password, challengeCharset_)) ||
        (!cookies.isEmpty() && !headers.Append("Cookie: " + cookies)))
        return false;

    answer_ = {};
    CURL* h = handle_.get();
    const bool sent = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List()) == CURLE_OK &&
                      curl_easy_perform(h) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    if (!sent)
        return false;

    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 200 || status > 299 ||
        status == 204)
        return false;
    return BodyHasText(answer_.body, answer_.charset);
}

void AccountClient::Impl::TakeHeaderLine(QByteArrayView line) {
    line = line.trimmed();
    if (line.startsWith("HTTP/")) {
        answer_ = {};
        return;
    }
    const std::optional<HttpHeaderField> field = SplitHeaderLine(line);
    if (!field)
        return;
    const auto [name, value] = *field;
    if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
        answer_.charset = ContentTypeCharset(value);
    } else if (name.compare("Set-Cookie", Qt::CaseInsensitive) == 0) {
        cookies_.Store(value, host_, RequestPath, std::time(nullptr));
    } else if (name.compare("WWW-Authenticate", Qt::CaseInsensitive) == 0) {
        // Later attempts encode the credentials as the service asked; a charset this system cannot
        // encode into leaves the previous choice.
        const std::optional<QByteArray> charset = BasicChallengeCharset(value);
        if (charset && IsKnownCharset(*charset))
            challengeCharset_ = *charset;
    }
}

// The callbacks run inside libcurl, which no exception may cross: a failure there ends the transfer,
// and the attempt counts as failed.
size_t AccountClient::Impl::OnHeader(char* data, size_t size, size_t count, void* self) {
    try {
        static_cast<Impl*>(self)->TakeHeaderLine(QByteArrayView(data, qsizetype(size * count)));
        return size * count;
    } catch (...) {
        return 0;
    }
}

size_t AccountClient::Impl::OnBody(char* data, size_t size, size_t count, void* self) {
    try {
        QByteArray& body = static_cast<Impl*>(self)->answer_.body;
        const qsizetype room = KeptBodyBytes - body.size();
        if (room > 0)
            body.append(data, std::min(room, qsizetype(size * count)));
        return size * count;
    } catch (...) {
        return 0;
    }
}

AccountClient::AccountClient(const QString& serviceUrl, AccountClientLimits limits)
    : impl_(std::make_unique<Impl>(serviceUrl, limits)) {}

AccountClient::~AccountClient() = default;

bool AccountClient::Authenticate(const QString& AUserName, const QString& APassword) noexcept {
    // The sign-in turns every failure into a refusal; its callers show their own message for it.
    try {
        return impl_->Attempt(AUserName, APassword);
    } catch (...) {
        return false;
    }
}
