#include "core/Text.h"

#include <algorithm>

bool IsBlank(QChar c) {
    return c.unicode() <= 32;
}

bool IsBlank(char byte) {
    return static_cast<unsigned char>(byte) <= 32;
}

bool IsBlankText(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return IsBlank(c); });
}

QStringView TrimmedBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool IsAsciiDigit(char byte) {
    return byte >= '0' && byte <= '9';
}

bool IsAsciiDigits(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return IsAsciiDigit(c); });
}

qsizetype IndexOfName(const TNameValuePairs& pairs, QStringView name) {
    const auto found =
        std::find_if(pairs.cbegin(), pairs.cend(), [name](const QPair<QString, QString>& pair) {
            return pair.first.compare(name, Qt::CaseInsensitive) == 0;
        });
    return found == pairs.cend() ? -1 : found - pairs.cbegin();
}
