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

TSignInResult Unreachable(CURLcode code) {
    return {TSignInResult::TOutcome::Unreachable, QString::fromUtf8(curl_easy_strerror(code))};
}

} // namespace

class TAccountClient::TImpl {
  public:
    TImpl(const QString& serviceUrl, TAccountClientLimits limits);
    TSignInResult Attempt(const QString& userName, const QString& password, std::stop_token stop);

  private:
    // What the current answer said; a new status line (after 100 Continue) starts it afresh.
    struct TAnswer {
        QByteArray Charset;
        QByteArray Body;
    };

    CURLcode Configure(TAccountClientLimits limits);
    void TakeHeaderLine(QByteArrayView line);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    TCurlEasy FHandle;
    CURLcode FSetUp = CURLE_OK; // why the handle could not be made ready, if it could not
    QByteArray FUrl;
    QByteArray FHost;
    bool FSecure = false;
    TCookieJar FCookies;
    QByteArray FChallengeCharset;
    TAnswer FAnswer;
    std::stop_token FStop; // the running attempt's
};

TAccountClient::TImpl::TImpl(const QString& serviceUrl, TAccountClientLimits limits)
    : FHandle(curl_easy_init()) {
    QString base = serviceUrl;
    while (base.endsWith(u'/'))
        base.chop(1);
    const QUrl url(base);
    FUrl = base.toUtf8() + RequestPath.toByteArray();
    FHost = url.host().toUtf8();
    FSecure = url.scheme() == u"https";
    FSetUp = FHandle ? Configure(limits) : CURLE_FAILED_INIT;
}

// The first option libcurl refuses decides the outcome: CURLE_OK when it took them all.
CURLcode TAccountClient::TImpl::Configure(TAccountClientLimits limits) {
    CURL* h = FHandle.get();
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK)
            code = curl_easy_setopt(h, option, value);
    };
    set(CURLOPT_URL, FUrl.constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4));
    set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, long(limits.Connect.count()));
    set(CURLOPT_TIMEOUT_MS, long(limits.Attempt.count()));
    set(CURLOPT_HEADERFUNCTION, &TImpl::OnHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &TImpl::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    // libcurl calls this a few times a second whatever arrives, so that a stop ends a silent attempt.
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &TImpl::OnProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    return code;
}

TSignInResult TAccountClient::TImpl::Attempt(const QString& userName, const QString& password,
                                             std::stop_token stop) {
    if (FSetUp != CURLE_OK)
        return Unreachable(FSetUp);
    if (stop.stop_requested())
        return {TSignInResult::TOutcome::Stopped, {}};
    FStop = std::move(stop);

    // Header lines in the order the service expects them, after the Host line libcurl writes; the
    // cookies are ours to send so that their line comes last.
    TCurlHeaderList headers;
    const QByteArray cookies = FCookies.CookieHeader(FHost, RequestPath, FSecure, std::time(nullptr));
    if (!headers.Append(AcceptLine) || !headers.Append(UserAgentLine) ||
        !headers.Append("Authorization: " + BasicAuthorization(userName, password, FChallengeCharset)) ||
        (!cookies.isEmpty() && !headers.Append("Cookie: " + cookies)))
        return Unreachable(CURLE_OUT_OF_MEMORY);

    FAnswer = {};
    CURL* h = FHandle.get();
    CURLcode code = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List());
    if (code == CURLE_OK)
        code = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    if (code == CURLE_ABORTED_BY_CALLBACK && FStop.stop_requested())
        return {TSignInResult::TOutcome::Stopped, {}};
    long status = 0;
    if (code == CURLE_OK)
        code = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK)
        return Unreachable(code);

    // Only the service's own word refuses the credentials; any other answer says nothing about them.
    if (status == 401 || status == 403)
        return {TSignInResult::TOutcome::Refused, {}};
    if (status < 200 || status > 299)
        return {TSignInResult::TOutcome::Unreachable,
                QStringLiteral("the service answered with status %1").arg(status)};
    if (status == 204 || !BodyHasText(FAnswer.Body, FAnswer.Charset))
        return {TSignInResult::TOutcome::Refused, {}};
    return {TSignInResult::TOutcome::Accepted, {}};
}

void TAccountClient::TImpl::TakeHeaderLine(QByteArrayView line) {
    line = line.trimmed();
    if (line.startsWith("HTTP/")) {
        FAnswer = {};
        return;
    }
    const std::optional<THttpHeaderField> field = SplitHeaderLine(line);
    if (!field)
        return;
    const auto [name, value] = *field;
    if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
        FAnswer.Charset = ContentTypeCharset(value);
    } else if (name.compare("Set-Cookie", Qt::CaseInsensitive) == 0) {
        FCookies.Store(value, FHost, RequestPath, std::time(nullptr));
    } else if (name.compare("WWW-Authenticate", Qt::CaseInsensitive) == 0) {
        // Later attempts encode the credentials as the service asked; a charset this system cannot
        // encode into leaves the previous choice.
        const std::optional<QByteArray> charset = BasicChallengeCharset(value);
        if (charset && IsKnownCharset(*charset))
            FChallengeCharset = *charset;
    }
}

// The callbacks run inside libcurl, which no exception may cross: a failure there ends the transfer
// with libcurl's write error.
size_t TAccountClient::TImpl::OnHeader(char* data, size_t size, size_t count, void* self) {
    try {
        static_cast<TImpl*>(self)->TakeHeaderLine(QByteArrayView(data, qsizetype(size * count)));
        return size * count;
    } catch (...) {
        return 0;
    }
}

size_t TAccountClient::TImpl::OnBody(char* data, size_t size, size_t count, void* self) {
    try {
        QByteArray& body = static_cast<TImpl*>(self)->FAnswer.Body;
        const qsizetype room = KeptBodyBytes - body.size();
        if (room > 0)
            body.append(data, std::min(room, qsizetype(size * count)));
        return size * count;
    } catch (...) {
        return 0;
    }
}

int TAccountClient::TImpl::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<TImpl*>(self)->FStop.stop_requested() ? 1 : 0;
}

TAccountClient::TAccountClient(const QString& serviceUrl, TAccountClientLimits limits)
    : FImpl(std::make_unique<TImpl>(serviceUrl, limits)) {}

TAccountClient::~TAccountClient() = default;

TSignInResult TAccountClient::Authenticate(const QString& AUserName, const QString& APassword,
                                           std::stop_token stop) noexcept {
    try {
        return FImpl->Attempt(AUserName, APassword, std::move(stop));
    } catch (const std::exception& error) {
        // Only running out of memory gets here; the attempt did not reach the service.
        return {TSignInResult::TOutcome::Unreachable, MessageOf(error)};
    }
}
