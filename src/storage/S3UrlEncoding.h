#pragma once

#include <QByteArray>
#include <QString>

// A request URL taken apart, with its path and query encoded as they are sent and signed.
struct TS3RequestUrl {
    QString Scheme;          // "http" or "https", lower case
    QString Host;            // without the port
    int Port = 0;            // the explicit port, else the scheme's default
    QString HostPart;        // host with the port as written in the URL (":port" kept when given)
    QByteArray EncodedPath;  // starts with "/"
    QByteArray EncodedQuery; // without the "?"; empty when the URL has none

    // The request target: the encoded path, then "?" and the encoded query when there is one.
    QByteArray Target() const;
    // Scheme, "://", host part and target: the URL this request goes to.
    QString ToString() const;
};

// Takes a URL apart and encodes its path and query. The host part ends at the first "/", "\", "?"
// or "#"; the path at the first "?" or "#"; a fragment is dropped.
// Throws TError("Invalid URL: \"<url>\"") when the URL cannot be taken apart.
TS3RequestUrl ParseRequestUrl(const QString& url);

// Path rule: UTF-8 bytes; bytes outside 0x21..0x7E and " # / < > ? \ ^ ` { | } become %XX;
// "%" is copied, so an existing %XX is not encoded twice.
QByteArray EncodeUrlPathSegment(const QByteArray& utf8);
// Query rule: as the path rule, with " # ' < > as the characters that are always encoded.
QByteArray EncodeUrlQuery(const QByteArray& utf8);
// RFC 3986: every UTF-8 byte except A-Z a-z 0-9 - . _ ~ becomes %XX.
QByteArray EncodeValue(const QString& text);
