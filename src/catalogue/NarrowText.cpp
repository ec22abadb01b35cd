#include "catalogue/NarrowText.h"

#include "core/Text.h"

#include <algorithm>

namespace {

char32_t SimpleLower(char32_t codePoint) {
    // The only character whose lower case is longer than one character; its simple mapping is 'i'.
    if (codePoint == 0x130)
        return U'i';
    return QChar::toLower(codePoint);
}

} // namespace

QByteArrayView NarrowPrefix(QByteArrayView text, qsizetype maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    qsizetype cut = maxBytes;
    while (cut > 0 && IsContinuationByte(text[cut]))
        --cut;
    return text.first(cut);
}

QByteArray ToNarrowField(const QString& text, qsizetype maxBytes) {
    QByteArray narrow = text.toUtf8();
    narrow.truncate(NarrowPrefix(narrow, maxBytes).size());
    return narrow;
}

QString LowerText(const QString& text) {
    QString lowered;
    lowered.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const char32_t lower = SimpleLower(codePoint);
        if (QChar::requiresSurrogates(lower)) {
            lowered.append(QChar(QChar::highSurrogate(lower)));
            lowered.append(QChar(QChar::lowSurrogate(lower)));
        } else {
            lowered.append(QChar(static_cast<char16_t>(lower)));
        }
    }
    return lowered;
}

QByteArray LowerNarrow(QByteArrayView text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii)
        return LowerText(QString::fromUtf8(text)).toUtf8();
    QByteArray lowered = text.toByteArray();
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

bool IsLowerAscii(QByteArrayView text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return (c >= 'A' && c <= 'Z') || (c & 0x80); });
}
