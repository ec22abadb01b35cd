#pragma once

#include "storage/S3Results.h"

#include <QString>

#include <optional>

// What a listing answer holds: a bucket listing, an S3 error document, or neither.
struct TS3ListingAnswer {
    std::optional<TS3BucketResult> Listing;
    std::optional<TS3ErrorDocument> Error;
};

// Reads the decoded text of a listing answer. No listing when the text is empty, not well-formed,
// its root is neither ListBucketResult nor ListVersionsResult, or the root lacks a Name with text.
// Element names are compared without regard to letter case, except Name and Owner's ID and
// DisplayName. Throws Error("'<text>' is not a valid integer value") for a bad Size.
TS3ListingAnswer ReadListingAnswer(const QString& text);
