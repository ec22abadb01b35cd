#include "core/ProxyList.h"

#include <QStringList>

// No QRegularExpression: storage requests run on worker threads, where Qt's per-thread matching stack
// makes a thread fault as it ends on Windows.
namespace {

QStringList Entries(const QString& list) {
    QString spaced = list;
    for (QChar& c : spaced) {
        if (c == u';' || c.isSpace())
            c = u' ';
    }
    return spaced.split(u' ', Qt::SkipEmptyParts);
}

// Whether text matches pattern, where "*" stands for any text; case does not count.
bool WildcardMatches(QStringView pattern, QStringView text) {
    if (pattern.isEmpty())
        return text.isEmpty();
    if (pattern.front() == u'*') {
        for (qsizetype skip = 0; skip <= text.size(); ++skip) {
            if (WildcardMatches(pattern.sliced(1), text.sliced(skip)))
                return true;
        }
        return false;
    }
    return !text.isEmpty() && pattern.front().toLower() == text.front().toLower() &&
           WildcardMatches(pattern.sliced(1), text.sliced(1));
}

} // namespace

QString ProxyForScheme(const QString& proxyList, const QString& scheme) {
    for (const QString& entry : Entries(proxyList)) {
        const qsizetype equals = entry.indexOf(u'=');
        if (equals >= 0 && entry.left(equals).compare(scheme, Qt::CaseInsensitive) != 0)
            continue;
        const QString proxy = entry.mid(equals + 1);
        if (proxy.isEmpty())
            continue;
        return proxy.contains(QStringLiteral("://")) ? proxy : QStringLiteral("http://") + proxy;
    }
    return {};
}

bool BypassesProxy(const QString& bypassList, const QString& host) {
    for (const QString& entry : Entries(bypassList)) {
        if (entry.compare(QStringLiteral("<local>"), Qt::CaseInsensitive) == 0) {
            if (!host.contains(u'.'))
                return true;
        } else if (WildcardMatches(entry, host)) {
            return true;
        }
    }
    return false;
}
