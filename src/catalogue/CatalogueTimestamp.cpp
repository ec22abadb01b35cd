#include "catalogue/CatalogueTimestamp.h"

#include "core/Error.h"
#include "core/Text.h"

#include <optional>

namespace {

constexpr int CatalogueOffsetSeconds = -3 * 3600;

// The number written by exactly 'digits' (at most four) ASCII digits at 'at', or nothing.
std::optional<int> ReadNumber(QStringView text, qsizetype at, qsizetype digits) {
    if (at + digits > text.size() || !IsAsciiDigits(text.mid(at, digits)))
        return std::nullopt;
    int value = 0;
    for (qsizetype i = at; i < at + digits; ++i)
        value = value * 10 + (text[i].unicode() - u'0');
    return value;
}

QDate ReadDate(QStringView text) {
    const auto year = ReadNumber(text, 0, 4);
    const auto month = ReadNumber(text, 5, 2);
    const auto day = ReadNumber(text, 8, 2);
    if (text.size() != 10 || text[4] != u'-' || text[7] != u'-' || !year || !month || !day)
        throw Error(QStringLiteral("Invalid date string: %1").arg(text));
    const QDate date(*year, *month, *day);
    if (!date.isValid())
        throw Error(QStringLiteral("Invalid date string: %1").arg(text));
    return date;
}

QTime ReadTime(QStringView text) {
    const auto hours = ReadNumber(text, 0, 2);
    const auto minutes = ReadNumber(text, 3, 2);
    const auto seconds = ReadNumber(text, 6, 2);
    if (text.size() < 8 || text[2] != u':' || text[5] != u':' || !hours || !minutes || !seconds)
        throw Error(QStringLiteral("Invalid time string: %1").arg(text));
    int milliseconds = 0;
    if (text.size() > 8) {
        const QStringView fraction = text.mid(9);
        if (text[8] != u'.' || fraction.isEmpty() || !IsAsciiDigits(fraction))
            throw Error(QStringLiteral("Invalid time string: %1").arg(text));
        for (qsizetype i = 0; i < 3; ++i)
            milliseconds = milliseconds * 10 + (i < fraction.size() ? fraction[i].unicode() - u'0' : 0);
    }
    const QTime time(*hours, *minutes, *seconds, milliseconds);
    if (!time.isValid())
        throw Error(QStringLiteral("Invalid time string: %1").arg(text));
    return time;
}

// Seconds east of UTC for "+hh:mm", "+hhmm" or "+hh" (or with "-").
int ReadOffset(QStringView text) {
    const QStringView digits = text.mid(1);
    const auto hours = ReadNumber(digits, 0, 2);
    std::optional<int> minutes = 0;
    if (digits.size() == 5 && digits[2] == u':')
        minutes = ReadNumber(digits, 3, 2);
    else if (digits.size() == 4)
        minutes = ReadNumber(digits, 2, 2);
    else if (digits.size() != 2)
        minutes.reset();
    if (!hours || !minutes || *hours > 23 || *minutes > 59)
        throw Error(QStringLiteral("Invalid time Offset string: %1").arg(text));
    const int seconds = (*hours * 60 + *minutes) * 60;
    return text[0] == u'-' ? -seconds : seconds;
}

} // namespace

QDateTime ReadIsoTimestamp(const QString& text) {
    const qsizetype separator = text.indexOf(u'T');
    const QStringView datePart = separator < 0 ? QStringView(text) : QStringView(text).left(separator);
    const QDate date = ReadDate(datePart);
    if (separator < 0)
        return QDateTime(date, QTime(0, 0), Qt::UTC);

    QStringView timePart = QStringView(text).mid(separator + 1);
    QStringView offsetPart;
    if (timePart.endsWith(u'Z')) {
        timePart.chop(1);
    } else {
        qsizetype sign = timePart.indexOf(u'+');
        if (sign < 0)
            sign = timePart.indexOf(u'-');
        if (sign >= 0) {
            offsetPart = timePart.mid(sign);
            timePart = timePart.left(sign);
        }
    }
    const QTime time = ReadTime(timePart);
    const int offsetSeconds = offsetPart.isEmpty() ? 0 : ReadOffset(offsetPart);
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

QDateTime ToCatalogueZone(const QDateTime& time) {
    return time.toOffsetFromUtc(CatalogueOffsetSeconds);
}
