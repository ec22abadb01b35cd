#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Readers for the two header values the sign-in looks into. Both follow the HTTP grammar for
// parameters (tokens and quoted strings, names compared without regard to case) and never fail:
// what they cannot read they skip.

// The charset parameter of a Basic challenge in a WWW-Authenticate value, which may hold several
// challenges ("Digest ..., Basic realm=\"x\", charset=\"UTF-8\""). Nothing when no Basic challenge of
// the value names one.
std::optional<QByteArray> BasicChallengeCharset(QByteArrayView wwwAuthenticate);

// The charset parameter of a Content-Type value ("application/json; charset=utf-8"); empty when there
// is none.
QByteArray ContentTypeCharset(QByteArrayView contentType);
