#pragma once

#include <QString>
#include <QStringList>

// Splits a parameter text into arguments the way Windows programs read their command line, so the
// parameter formats keep their meaning without any shell:
// - blanks and tabs separate arguments;
// - double quotes group text, blanks included, and are removed; a quoted part may sit inside an argument
//   and "" gives an empty argument;
// - inside quotes, two double quotes give one literal double quote;
// - 2n backslashes before a double quote give n backslashes and the quote acts as above; 2n+1 give n
//   backslashes and a literal double quote; backslashes before anything else stay as they are.
QStringList SplitCommandLine(const QString& parameters);

// The parameter text that SplitCommandLine reads back as exactly these arguments: an argument that is
// empty or holds a blank, a tab or a double quote is put in double quotes, with the backslashes before
// a quote (and before the closing one) doubled and its own quotes escaped by a backslash.
QString JoinCommandLine(const QStringList& arguments);
