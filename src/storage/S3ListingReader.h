#pragma once

#include "storage/S3Results.h"

#include <QByteArray>

#include <optional>

// The most elements and attributes a listing page may hold (counted as its "<" and "=" characters), so
// that its parsed form stays within a few times its bytes.
inline constexpr qint64 MaxListingPageMarkup = 200000;

// What a listing answer holds: a bucket listing read for its keys, an S3 error document, or neither.
struct TS3ListingPageAnswer {
    std::optional<TS3ListingPage> Page;
    std::optional<TS3ErrorDocument> Error;
};

// Reads the bytes of a listing answer, parsed in place in the encoding they declare (see ListingAsUtf8),
// for the keys, last-modified times and sizes of its objects, whether it is truncated and its
// NextMarker. The page keeps the bytes. No listing when the bytes are empty, not well-formed, not text in
// their encoding, their root is neither ListBucketResult nor ListVersionsResult, or the root lacks a Name
// with text. Element names are compared without regard to ASCII letter case, except Name. An object
// whose key holds a NUL character or bytes that are not text is left out and counted in SkippedKeys; one
// without a key is left out silently. Throws TError("'<text>' is not a valid integer value") for a bad
// Size, TError for a declared encoding that cannot be read, and TS3ListingTooLarge for a page of more than
// MaxListingPageMarkup elements and attributes.
TS3ListingPageAnswer ReadListingPage(QByteArray bytes);
