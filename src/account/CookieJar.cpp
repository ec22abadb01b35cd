#include "account/CookieJar.h"

#include "core/Text.h"

#include <QByteArrayList>

#include <curl/curl.h>

#include <algorithm>
#include <limits>

namespace {

QByteArray Lower(QByteArrayView text) {
    return text.toByteArray().toLower();
}

bool IsIpAddress(QByteArrayView host) {
    return host.contains(':') ||
           std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || IsAsciiDigit(c); });
}

bool DomainMatches(QByteArrayView host, QByteArrayView domain) {
    if (host == domain)
        return true;
    return host.size() > domain.size() && host.endsWith(domain) &&
           host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(QByteArrayView requestPath, QByteArrayView cookiePath) {
    if (!requestPath.startsWith(cookiePath))
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.endsWith('/') ||
           requestPath[cookiePath.size()] == '/';
}

// The folder of the request path: what a cookie without a Path attribute applies to.
QByteArray DefaultPath(QByteArrayView requestPath) {
    const qsizetype slash = requestPath.lastIndexOf('/');
    if (!requestPath.startsWith('/') || slash <= 0)
        return "/";
    return requestPath.first(slash).toByteArray();
}

// Max-Age: digits with an optional leading minus; anything else leaves the attribute unused.
std::optional<std::time_t> MaxAgeExpiry(QByteArrayView value, std::time_t now) {
    bool ok = false;
    const qlonglong seconds = value.toByteArray().toLongLong(&ok);
    if (!ok || value.startsWith('+'))
        return std::nullopt;
    if (seconds <= 0)
        return std::numeric_limits<std::time_t>::min();
    if (seconds > std::numeric_limits<std::time_t>::max() - now)
        return std::numeric_limits<std::time_t>::max();
    return now + std::time_t(seconds);
}

// Control characters could break the Cookie line this jar builds from the cookie later.
bool HasControlCharacters(QByteArrayView text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (c >= 0 && c < 32 && c != '\t') || c == 127; });
}

bool Expired(const std::optional<std::time_t>& expires, std::time_t now) {
    return expires && *expires <= now;
}

} // namespace

void TCookieJar::Store(QByteArrayView setCookie, QByteArrayView host, QByteArrayView requestPath,
                       std::time_t now) {
    const QByteArrayList parts = setCookie.toByteArray().split(';');
    const QByteArray& pair = parts.front();
    const qsizetype equals = pair.indexOf('=');
    if (equals < 0)
        return;

    TCookie cookie;
    cookie.Name = pair.first(equals).trimmed();
    cookie.Value = pair.sliced(equals + 1).trimmed();
    if (cookie.Name.isEmpty() || HasControlCharacters(cookie.Name) || HasControlCharacters(cookie.Value))
        return;
    cookie.Domain = Lower(host);
    cookie.Path = DefaultPath(requestPath);

    std::optional<std::time_t> maxAge;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype split = parts[i].indexOf('=');
        const QByteArray name = Lower((split < 0 ? parts[i] : parts[i].first(split)).trimmed());
        const QByteArray value = split < 0 ? QByteArray() : parts[i].sliced(split + 1).trimmed();
        if (name == "expires") {
            const std::time_t date = curl_getdate(value.constData(), nullptr);
            if (date != -1)
                cookie.Expires = date;
        } else if (name == "max-age") {
            if (const auto expiry = MaxAgeExpiry(value, now))
                maxAge = expiry;
        } else if (name == "domain" && !value.isEmpty()) {
            const QByteArray domain = Lower(value.startsWith('.') ? value.sliced(1) : value);
            if (!DomainMatches(Lower(host), domain))
                return;
            cookie.HostOnly = false;
            cookie.Domain = domain;
        } else if (name == "path") {
            cookie.Path = value.startsWith('/') ? value : DefaultPath(requestPath);
        } else if (name == "secure") {
            cookie.Secure = true;
        }
    }
    if (maxAge)
        cookie.Expires = maxAge;

    const auto same = std::find_if(FCookies.begin(), FCookies.end(), [&](const TCookie& old) {
        return old.Name == cookie.Name && old.Domain == cookie.Domain && old.Path == cookie.Path;
    });
    if (same != FCookies.end()) {
        cookie.Created = same->Created;
        FCookies.erase(same);
    } else {
        cookie.Created = FNextCreated++;
    }
    if (!Expired(cookie.Expires, now))
        FCookies.push_back(std::move(cookie));
}

QByteArray TCookieJar::CookieHeader(QByteArrayView host, QByteArrayView requestPath, bool secure,
                                    std::time_t now) {
    std::erase_if(FCookies, [now](const TCookie& cookie) { return Expired(cookie.Expires, now); });

    const QByteArray lowerHost = Lower(host);
    std::vector<const TCookie*> matching;
    for (const TCookie& cookie : FCookies) {
        const bool domainFits =
            cookie.HostOnly ? lowerHost == cookie.Domain : DomainMatches(lowerHost, cookie.Domain);
        if (domainFits && PathMatches(requestPath, cookie.Path) && (secure || !cookie.Secure))
            matching.push_back(&cookie);
    }
    std::sort(matching.begin(), matching.end(), [](const TCookie* a, const TCookie* b) {
        return a->Path.size() != b->Path.size() ? a->Path.size() > b->Path.size() : a->Created < b->Created;
    });

    QByteArrayList pairs;
    for (const TCookie* cookie : matching)
        pairs.append(cookie->Name + '=' + cookie->Value);
    return pairs.join("; ");
}
