#pragma once

#include <QString>

// Quoting for the texts that reach PostgreSQL, so that a name is only ever read as a name.

// An SQL identifier in double quotes, its own double quotes doubled: "Sales ""Office""".
QString QuoteIdentifier(const QString& name);

// An SQL string literal in single quotes, its own single quotes doubled. A text holding a backslash is
// written as an escape string (E'...') with its backslashes doubled, so that it reads the same whatever
// the server's standard_conforming_strings says.
QString QuoteLiteral(const QString& text);

// A value of a libpq connection string ("dbname=<value>") in single quotes, its own single quotes and
// backslashes escaped by a backslash, so that nothing in it starts another keyword.
QString QuoteConnectionValue(const QString& value);
