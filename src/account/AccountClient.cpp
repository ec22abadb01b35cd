#include "account/AccountClient.h"

#include "account/BasicCredentials.h"
#include "account/CookieJar.h"
#include "account/HttpHeaderValues.h"
#include "core/Curl.h"
#include "core/Error.h"

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

SignInResult Unreachable(CURLcode code) {
    return {SignInResult::Outcome::Unreachable, QString::fromUtf8(curl_easy_strerror(code))};
}

} // namespace

class AccountClient::Impl {
  public:
    Impl(const QString& serviceUrl, AccountClientLimits limits);
    SignInResult Attempt(const QString& userName, const QString& password, std::stop_token stop);

  private:
    // What the current answer said; a new status line (after 100 Continue) starts it afresh.
    struct Answer {
        QByteArray charset;
        QByteArray body;
    };

    CURLcode Configure(AccountClientLimits limits);
    void TakeHeaderLine(QByteArrayView line);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CurlEasy handle_;
    CURLcode setUp_ = CURLE_OK; // why the handle could not be made ready, if it could not
    QByteArray url_;
    QByteArray host_;
    bool secure_ = false;
    CookieJar cookies_;
    QByteArray challengeCharset_;
    Answer answer_;
    std::stop_token stop_; // the running attempt's
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
    setUp_ = handle_ ? Configure(limits) : CURLE_FAILED_INIT;
}

// The first option libcurl refuses decides the outcome: CURLE_OK when it took them all.
CURLcode AccountClient::Impl::Configure(AccountClientLimits limits) {
    CURL* h = handle_.get();
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK)
            code = curl_easy_setopt(h, option, value);
    };
    set(CURLOPT_URL, url_.constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4));
    set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, long(limits.connect.count()));
    set(CURLOPT_TIMEOUT_MS, long(limits.attempt.count()));
    set(CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    // libcurl calls this a few times a second whatever arrives, so that a stop ends a silent attempt.
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    return code;
}

SignInResult AccountClient::Impl::Attempt(const QString& userName, const QString& password,
                                          std::stop_token stop) {
    if (setUp_ != CURLE_OK)
        return Unreachable(setUp_);
    if (stop.stop_requested())
        return {SignInResult::Outcome::Stopped, {}};
    stop_ = std::move(stop);

    // Header lines in the order the service expects them, after the Host line libcurl writes; the
    // cookies are ours to send so that their line comes last.
    CurlHeaderList headers;
    const QByteArray cookies = cookies_.CookieHeader(host_, RequestPath, secure_, std::time(nullptr));
    if (!headers.Append(AcceptLine) || !headers.Append(UserAgentLine) ||
        !headers.Append("Authorization: " + BasicAuthorization(userName, password, challengeCharset_)) ||
        (!cookies.isEmpty() && !headers.Append("Cookie: " + cookies)))
        return Unreachable(CURLE_OUT_OF_MEMORY);

    answer_ = {};
    CURL* h = handle_.get();
    CURLcode code = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List());
    if (code == CURLE_OK)
        code = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    if (code == CURLE_ABORTED_BY_CALLBACK && stop_.stop_requested())
        return {SignInResult::Outcome::Stopped, {}};
    long status = 0;
    if (code == CURLE_OK)
        code = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK)
        return Unreachable(code);

    // Only the service's own word refuses the credentials; any other answer says nothing about them.
    if (status == 401 || status == 403)
        return {SignInResult::Outcome::Refused, {}};
    if (status < 200 || status > 299)
        return {SignInResult::Outcome::Unreachable,
                QStringLiteral("the service answered with status %1").arg(status)};
    if (status == 204 || !BodyHasText(answer_.body, answer_.charset))
        return {SignInResult::Outcome::Refused, {}};
    return {SignInResult::Outcome::Accepted, {}};
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

// The callbacks run inside libcurl, which no exception may cross: a failure there ends the transfer
// with libcurl's write error.
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

int AccountClient::Impl::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Impl*>(self)->stop_.stop_requested() ? 1 : 0;
}

AccountClient::AccountClient(const QString& serviceUrl, AccountClientLimits limits)
    : impl_(std::make_unique<Impl>(serviceUrl, limits)) {}

AccountClient::~AccountClient() = default;

SignInResult AccountClient::Authenticate(const QString& AUserName, const QString& APassword,
                                         std::stop_token stop) noexcept {
    try {
        return impl_->Attempt(AUserName, APassword, std::move(stop));
    } catch (const std::exception& error) {
        // Only running out of memory gets here; the attempt did not reach the service.
        return {SignInResult::Outcome::Unreachable, MessageOf(error)};
    }
}
