#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <ctime>
#include <optional>
#include <vector>

// The cookies servers set, kept in memory only, by the rules browsers follow (RFC 6265): a cookie
// goes back to the host that set it (or to the hosts of its Domain attribute), under its path, over
// TLS only when marked Secure, and until it expires. Without a list of public suffixes, a Domain
// attribute is accepted only when the setting host lies within it.
class TCookieJar {
  public:
    // Takes the value of one Set-Cookie header received for a request to host and path.
    void Store(QByteArrayView setCookie, QByteArrayView host, QByteArrayView requestPath, std::time_t now);

    // The value for the Cookie header of a request to host and path ("name=value; ..."), longest
    // paths first; empty when no cookie applies.
    QByteArray CookieHeader(QByteArrayView host, QByteArrayView requestPath, bool secure, std::time_t now);

  private:
    struct TCookie {
        QByteArray Name;
        QByteArray Value;
        QByteArray Domain;
        QByteArray Path;
        bool HostOnly = true;
        bool Secure = false;
        std::optional<std::time_t> Expires;
        unsigned long long Created = 0;
    };

    std::vector<TCookie> FCookies;
    unsigned long long FNextCreated = 0;
};
