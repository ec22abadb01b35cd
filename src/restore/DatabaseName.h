#pragma once

#include <QString>

// The database name proposed for a backup: its name with only A-Z lower-cased, then every run of white
// space and every "-<digits>.<word>" part (a date stamp with its extension) removed in one pass.
// "Sales Office-20231118.backup" gives "salesoffice". The result may be empty.
QString DeriveDatabaseName(const QString& name);

// The longest name PostgreSQL keeps whole; a longer one it would silently cut.
constexpr qsizetype LongestDatabaseName = 63; // bytes in UTF-8

// Throws the error that says why PostgreSQL cannot hold this database name: "Database name is required"
// for an empty one, and a message for one holding NUL, longer than 63 bytes, or naming one of the
// server's own databases (template0, template1, postgres). Any other text is a
// name, "dbname=sales" and "-d" included: the restore never lets a program read it as anything else.
void CheckDatabaseName(const QString& name);

// Throws when the database user name would be read as an option: "Database username is required" for
// an empty one, and a message for one beginning with "-".
void CheckDatabaseUser(const QString& user);
