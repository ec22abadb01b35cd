#pragma once

#include <QString>

// Replaces every match of a Perl-compatible pattern in input by replacement, left to right, without
// overlap and without searching the result again. UTF-8 mode, newline convention ANY, ASCII-only
// character classes, empty matches not allowed. Throws TError
// "Error in regular expression at offset %d: %s" for a pattern that does not compile.
QString ReplaceAll(const QString& input, const QString& pattern, const QString& replacement);
