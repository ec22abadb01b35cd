#pragma once

#include <QString>

// Windows keeps the user's proxy settings as two lists (Internet Options, or what a PAC script returns);
// these read them.

// The proxy a proxy list names for requests of the scheme ("http", "https"), as libcurl takes it
// ("http://host:port"); empty when it names none for that scheme. The list holds "host:port" for every
// scheme or "scheme=host:port" for one, the entries separated by ";" or blanks; the first that fits
// counts. A SOCKS entry is not taken.
QString ProxyForScheme(const QString& proxyList, const QString& scheme);

// Whether a bypass list sends requests to host direct. Its entries, separated by ";" or blanks, are
// host names with "*" standing for any text ("*.example.com", "10.*"), or "<local>" for every name
// without a dot; case does not count.
bool BypassesProxy(const QString& bypassList, const QString& host);
