#pragma once

#include <QString>

// The database name proposed for a backup: its name with only A-Z lower-cased, then every run of white
// space and every "-<digits>.<word>" part (a date stamp with its extension) removed in one pass.
// "Sales Office-20231118.backup" gives "salesoffice". The result may be empty.
QString DeriveDatabaseName(const QString& name);
