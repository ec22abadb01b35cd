#pragma once

#include "catalogue/CatalogueTable.h"
#include "storage/S3StorageService.h"

#include <QString>

// Connect's filling of the catalogue from the bucket folder named by the bucket setting
// ("bucket/folder"). The storage service is made first, so a malformed setting ("Invalid bucket
// configuration") leaves the catalogue as it was. Otherwise the catalogue is emptied and every page of
// the folder's listing is read; each object becomes a record unless it is a sub-folder marker or empty.
// The view is refreshed once at the end, on every path. The filter in force stays in force.
//
// Errors propagate: a refused listing names the bucket and the service's reason; a last-modified time
// that cannot be read ends the filling with the records before it kept (the object itself is not).
// maxKeys asks the service for pages of at most that many keys; 0 leaves the page size to the service.
void FillCatalogue(TCatalogueTable& table, TS3ConnectionInfo& info, const QString& bucketSetting,
                   TS3TransportLimits limits = {}, int maxKeys = 0);
