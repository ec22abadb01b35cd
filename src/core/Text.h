#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>

// Small text helpers that several layers share.

// Blank: a code at or below 32, the space and every control character before it. Settings and search
// texts are trimmed and tested with this rule, which is wider than QChar::isSpace().
bool IsBlank(QChar c);
bool IsBlank(char byte);
// True when the text is empty or holds nothing but blanks.
bool IsBlankText(QStringView text);
// The text without the blanks at both of its ends.
QStringView TrimmedBlanks(QStringView text);

// The digits 0 to 9 and nothing else (no other script's digits).
bool IsAsciiDigit(QChar c);
bool IsAsciiDigit(char byte);
// True when every character is an ASCII digit (so also for an empty text).
bool IsAsciiDigits(QStringView text);

// A byte that continues a UTF-8 sequence (10xxxxxx) rather than starting a character. Inline: the like
// matcher asks it for every byte of every name it searches.
inline bool IsContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Ordered name=value pairs, such as headers and query parameters.
using TNameValuePairs = QList<QPair<QString, QString>>;
// The index of the first pair whose name equals name without regard to letter case, or -1.
qsizetype IndexOfName(const TNameValuePairs& pairs, QStringView name);
