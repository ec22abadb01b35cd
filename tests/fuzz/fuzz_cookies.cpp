// The cookie jar on any Set-Cookie values (the input's lines) received from one host. Whatever they
// say, no cookie goes to a host outside the domains that hold that host.
#include "account/CookieJar.h"

#include <QList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    constexpr std::time_t Now = 1767225600; // 2026-01-01
    TCookieJar jar;
    for (const QByteArray& line : input.split('\n'))
        jar.Store(line, "support.example.com", "/my/account.json", Now);
    volatile qsizetype length = jar.CookieHeader("support.example.com", "/my/account.json", true, Now).size();
    (void)length;
    if (!jar.CookieHeader("example.org", "/", true, Now).isEmpty() ||
        !jar.CookieHeader("support.example.com.evil.test", "/", true, Now).isEmpty())
        std::abort();
    return 0;
}
