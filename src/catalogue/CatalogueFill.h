#pragma once

#include "catalogue/CatalogueTable.h"
#include "storage/S3StorageService.h"

#include <QString>

#include <functional>

// Where the fill writes what the user should know of a listing that succeeded: the window's log.
using TCatalogueLog = std::function<void(const QString& message)>;

// The page size that leaves the choice to the service (1,000 keys for S3).
constexpr int ServicePageSize = 0;

// Connect's filling of the catalogue from the bucket folder named by the bucket setting
// ("bucket/folder"). The storage service is made first, so a malformed setting ("Invalid bucket
// configuration") leaves the catalogue as it was. Otherwise the catalogue is emptied and every page of
// the folder's listing is read; each object becomes a record unless it is a sub-folder marker or empty.
// The view is refreshed once at the end, on every path. The filter in force stays in force.
//
// Errors propagate: a refused listing names the bucket and the service's reason, and so does a page
// larger than the listing sink's cap; a last-modified time that cannot be read ends the filling with
// the records before it kept (the object itself is not). A key that cannot be represented exactly (a
// NUL character, bytes that are not text, too long for the path) is left out, and the number left out
// is logged once the listing is complete. maxKeys asks the service for pages of at most that many keys.
void FillCatalogue(TCatalogueTable& table, TS3ConnectionInfo& info, const QString& bucketSetting,
                   TS3TransportLimits limits = {}, int maxKeys = ServicePageSize,
                   const TCatalogueLog& log = {});
