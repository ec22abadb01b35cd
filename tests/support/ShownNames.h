#pragma once

#include "catalogue/CatalogueTable.h"

#include <QStringList>

// The Name of every record the table shows, in the order shown.
inline QStringList ShownNames(const TCatalogueTable& table) {
    QStringList names;
    for (int row = 0; row < table.rowCount(); ++row)
        names << table.RecordAt(row).Name;
    return names;
}
