#pragma once

#include "catalogue/CatalogueTable.h"

#include <QString>

// The search behind the search button: shows the whole catalogue, then, unless the search text is
// blank, only the records whose Name contains the text, ignoring letter case, with each run of white
// space in the text standing for any run of characters. The filter stays in force until the next
// search. A search text that the filter cannot take (a stray quote) raises the parse error and leaves
// the whole catalogue shown.
void SearchCatalogue(TCatalogueTable& table, const QString& searchText);

// The filter expression a search text gives: lower(Name) like '%<text>%' with the text's runs of white
// space made "%" and the text lower-cased, inserted without escaping anything.
QString SearchFilterExpression(const QString& searchText);
