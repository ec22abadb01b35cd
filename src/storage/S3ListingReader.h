#pragma once

#include "storage/S3Results.h"

#include <QByteArray>

#include <optional>

// What a listing answer holds: a bucket listing, an S3 error document, or neither.
struct TS3ListingAnswer {
    std::optional<TS3BucketResult> Listing;
    std::optional<TS3ErrorDocument> Error;
};

// The same for a listing read for its keys alone.
struct TS3ListingPageAnswer {
    std::optional<TS3ListingPage> Page;
    std::optional<TS3ErrorDocument> Error;
};

// Reads the bytes of a listing answer, parsed in place in the encoding they declare (see ListingAsUtf8).
// No listing when the bytes are empty, not well-formed, not text in their encoding, their root is
// neither ListBucketResult nor ListVersionsResult, or the root lacks a Name with text. Element names
// are compared without regard to ASCII letter case, except Name and Owner's ID and DisplayName. An
// object whose key holds a NUL character or bytes that are not text is left out and counted in
// SkippedKeys; one without a key is left out silently. Throws Error("'<text>' is not a valid integer
// value") for a bad Size, and Error for a declared encoding that cannot be read.
TS3ListingAnswer ReadListingAnswer(QByteArray bytes);

// Reads the same answer for the keys, last-modified times and sizes of its objects, whether it is
// truncated and its NextMarker, with the same rules and errors. The page keeps the bytes.
TS3ListingPageAnswer ReadListingPage(QByteArray bytes);
