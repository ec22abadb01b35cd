#include "catalogue/CatalogueSearch.h"

#include "catalogue/NarrowText.h"
#include "core/RegexReplace.h"
#include "core/Text.h"

QString SearchFilterExpression(const QString& searchText) {
    const QString wildcards = ReplaceAll(searchText, QStringLiteral("\\s+"), QStringLiteral("%"));
    // The names are lower-cased by the same simple mapping, so a text typed as it appears in a name
    // always finds it, whatever the user's locale.
    const QString pattern = u'%' + LowerText(wildcards) + u'%';
    return QStringLiteral("lower(Name) like '") + pattern + u'\'';
}

void SearchCatalogue(TCatalogueTable& table, const QString& searchText) {
    table.SetFiltered(false);
    if (IsBlankText(searchText))
        return;
    table.SetFilterExpression(SearchFilterExpression(searchText));
    table.SetFiltered(true);
}
