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

void CookieJar::Store(QByteArrayView setCookie, QByteArrayView host, QByteArrayView requestPath,
                      std::time_t now) {
    const QByteArrayList parts = setCookie.toByteArray().split(';');
    const QByteArray& pair = parts.front();
    const qsizetype equals = pair.indexOf('=');
    if (equals < 0)
        return;

    Cookie cookie;
    cookie.name = pair.first(equals).trimmed();
    cookie.value = pair.sliced(equals + 1).trimmed();
    if (cookie.name.isEmpty() || HasControlCharacters(cookie.name) || HasControlCharacters(cookie.value))
        return;
    cookie.domain = Lower(host);
    cookie.path = DefaultPath(requestPath);

    std::optional<std::time_t> maxAge;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype split = parts[i].indexOf('=');
        const QByteArray name = Lower((split < 0 ? parts[i] : parts[i].first(split)).trimmed());
        const QByteArray value = split < 0 ? QByteArray() : parts[i].sliced(split + 1).trimmed();
        if (name == "expires") {
            const std::time_t date = curl_getdate(value.constData(), nullptr);
            if (date != -1)
                cookie.expires = date;
        } else if (name == "max-age") {
            if (const auto expiry = MaxAgeExpiry(value, now))
                maxAge = expiry;
        } else if (name == "domain" && !value.isEmpty()) {
            const QByteArray domain = Lower(value.startsWith('.') ? value.sliced(1) : value);
            if (!DomainMatches(Lower(host), domain))
                return;
            cookie.hostOnly = false;
            cookie.domain = domain;
        } else if (name == "path") {
            cookie.path = value.startsWith('/') ? value : DefaultPath(requestPath);
        } else if (name == "secure") {
            cookie.secure = true;
        }
    }
    if (maxAge)
        cookie.expires = maxAge;

    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& old) {
        return old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path;
    });
    if (same != cookies_.end()) {
        cookie.created = same->created;
        cookies_.erase(same);
    } else {
        cookie.created = nextCreated_++;
    }
    if (!Expired(cookie.expires, now))
        cookies_.push_back(std::move(cookie));
}

QByteArray CookieJar::CookieHeader(QByteArrayView host, QByteArrayView requestPath, bool secure,
                                   std::time_t now) {
    std::erase_if(cookies_, [now](const Cookie& cookie) { return Expired(cookie.expires, now); });

    const QByteArray lowerHost = Lower(host);
    std::vector<const Cookie*> matching;
    for (const Cookie& cookie : cookies_) {
        const bool domainFits =
            cookie.hostOnly ? lowerHost == cookie.domain : DomainMatches(lowerHost, cookie.domain);
        if (domainFits && PathMatches(requestPath, cookie.path) && (secure || !cookie.secure))
            matching.push_back(&cookie);
    }
    std::sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() != b->path.size() ? a->path.size() > b->path.size() : a->created < b->created;
    });

    QByteArrayList pairs;
    for (const Cookie* cookie : matching)
        pairs.append(cookie->name + '=' + cookie->value);
    return pairs.join("; ");
}
