#pragma once

#include "catalogue/LikePattern.h"
#include "core/Error.h"

#include <QString>

// A filter expression that does not parse. Message() is the message; Offset() the position in the
// expression (in UTF-16 code units) where the fault was found.
class TFilterParseError : public TError {
  public:
    TFilterParseError(const QString& message, qsizetype offset);
    qsizetype Offset() const { return FOffset; }

  private:
    qsizetype FOffset;
};

// The catalogue's filters have the form lower(Name) like '<pattern>' (function, field and operator
// names in any letter case). Returns the pattern, as narrow text cut to 255 bytes, that a record's
// lower-cased Name must match. Throws TFilterParseError.
//
// Inside the literal, two quotes stand for one. A lone quote ends the literal when no other quote
// follows it, or when what follows it (past blanks and closing parentheses) continues an expression:
// a digit, "<", "=", ">", a comment opener, a quoted name, or a reserved word before ",", ";" or a
// parenthesis. Otherwise, for instance before a letter or "%", the quote belongs to the literal.
TLikePattern ParseFilterExpression(const QString& expression);
