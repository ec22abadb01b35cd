#pragma once

#include "catalogue/CatalogueTable.h"

#include <QStringList>

// The Name column of every row the table shows, in the order shown, as the grid displays it.
inline QStringList ShownNames(const TCatalogueTable& table) {
    QStringList names;
    for (int row = 0; row < table.rowCount(); ++row)
        names << table.data(table.index(row, TCatalogueTable::NameColumn)).toString();
    return names;
}
