#pragma once

#include "catalogue/CatalogueTable.h"
#include "storage/S3StorageService.h"

#include <QString>

#include <functional>

// Where the fill writes what the user should know of a listing that succeeded: the window's log.
using TCatalogueLog = std::function<void(const QString& message)>;

// The page size that leaves the choice to the service (1,000 keys for S3).
constexpr int ServicePageSize = 0;

// Where a listing is taken for endless and refused: a server that always names a next page would
// otherwise have the client list, and keep records, for as long as it runs.
inline constexpr qint64 MaxListedKeys = 10'000'000;
inline constexpr qint64 MaxListingPages = 100'000;
// The log says how far a listing has got every this many pages.
inline constexpr qint64 ListingLogPages = 100;

// How far a listing has got: the pages read and the keys listed on them.
struct TListingCount {
    qint64 Pages = 0;
    qint64 Keys = 0;
};
// Told after each page, on the listing's thread.
using TListingProgress = std::function<void(const TListingCount& count)>;

struct TListingOptions {
    int PageSize = ServicePageSize; // the most keys asked of each page
    qint64 MaxKeys = MaxListedKeys;
    qint64 MaxPages = MaxListingPages;
    TCatalogueLog Log;
    TListingProgress Progress;
};

// Connect's listing of the bucket folder named by the bucket setting ("bucket/folder"), read into
// records of its own on any thread and handed to the grid's table whole (TCatalogueTable::TakeRecords).
// The storage service is made first, so a malformed setting fails with "Invalid bucket configuration".
// Every page of the folder's listing is read; each object becomes a record unless it is a sub-folder
// marker or empty.
//
// Errors propagate, and no records come back: a refused listing names the bucket and the service's
// reason, and so does a page larger than the listing sink's cap, or a listing whose pages lead back to an
// earlier one, or past the options' MaxKeys keys or MaxPages pages; a last-modified time that cannot be
// read ends the listing. A key that cannot be represented exactly (a NUL character, bytes that are not
// text, too long for the path) is left out, and the number left out is logged once the listing is
// complete. The options' Progress hears of every page, and the log of every ListingLogPages pages.
TCatalogueRecords ListCatalogue(TS3ConnectionInfo& info, const QString& bucketSetting,
                                TS3TransportLimits limits = {}, const TListingOptions& options = {});
