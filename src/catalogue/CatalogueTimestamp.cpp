#include "catalogue/CatalogueTimestamp.h"

#include "core/Error.h"
#include "core/Text.h"

#include <optional>

namespace {

constexpr qint64 MsecsPerDay = 86400000;

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
        throw TError(QStringLiteral("Invalid date string: %1").arg(text));
    const QDate date(*year, *month, *day);
    if (!date.isValid())
        throw TError(QStringLiteral("Invalid date string: %1").arg(text));
    return date;
}

QTime ReadTime(QStringView text) {
    const auto hours = ReadNumber(text, 0, 2);
    const auto minutes = ReadNumber(text, 3, 2);
    const auto seconds = ReadNumber(text, 6, 2);
    if (text.size() < 8 || text[2] != u':' || text[5] != u':' || !hours || !minutes || !seconds)
        throw TError(QStringLiteral("Invalid time string: %1").arg(text));
    int milliseconds = 0;
    if (text.size() > 8) {
        const QStringView fraction = text.mid(9);
        if (text[8] != u'.' || fraction.isEmpty() || !IsAsciiDigits(fraction))
            throw TError(QStringLiteral("Invalid time string: %1").arg(text));
        for (qsizetype i = 0; i < 3; ++i)
            milliseconds = milliseconds * 10 + (i < fraction.size() ? fraction[i].unicode() - u'0' : 0);
    }
    const QTime time(*hours, *minutes, *seconds, milliseconds);
    if (!time.isValid())
        throw TError(QStringLiteral("Invalid time string: %1").arg(text));
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
        throw TError(QStringLiteral("Invalid time Offset string: %1").arg(text));
    const int seconds = (*hours * 60 + *minutes) * 60;
    return text[0] == u'-' ? -seconds : seconds;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back (H. Hinnant's
// algorithms, exact for every date).
qint64 DaysFromCivil(qint64 year, int month, int day) {
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(qint64 days, qint64* year, int* month, int* day) {
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    *month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    *year = yearOfEra + era * 400 + (*month <= 2);
}

int DaysInMonth(qint64 year, int month) {
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : Days[month - 1];
}

// The number of 'digits' ASCII digits at text[at], or -1.
int Digits(QByteArrayView text, qsizetype at, int digits) {
    int value = 0;
    for (qsizetype i = at; i < at + digits; ++i) {
        if (!IsAsciiDigit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The time of text in exactly the form S3 sends, with every field in range; none otherwise.
std::optional<qint64> ReadCanonicalTimestamp(QByteArrayView text) {
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    const int year = Digits(text, 0, 4);
    const int month = Digits(text, 5, 2);
    const int day = Digits(text, 8, 2);
    const int hours = Digits(text, 11, 2);
    const int minutes = Digits(text, 14, 2);
    const int seconds = Digits(text, 17, 2);
    const int msecs = Digits(text, 20, 3);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hours < 0 ||
        hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 || msecs < 0)
        return std::nullopt;
    return DaysFromCivil(year, month, day) * MsecsPerDay + ((hours * 60 + minutes) * 60 + seconds) * 1000 +
           msecs;
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

qint64 ReadIsoTimestampMsecs(QByteArrayView text) {
    if (const std::optional<qint64> msecs = ReadCanonicalTimestamp(text))
        return *msecs;
    return ReadIsoTimestamp(QString::fromUtf8(text)).toMSecsSinceEpoch();
}

std::optional<std::array<char, 24>> CanonicalTimestampText(qint64 msecs) {
    const qint64 days = msecs >= 0 ? msecs / MsecsPerDay : -((-msecs + MsecsPerDay - 1) / MsecsPerDay);
    const qint64 inDay = msecs - days * MsecsPerDay;
    qint64 year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, &year, &month, &day);
    if (year < 1 || year > 9999)
        return std::nullopt;
    std::array<char, 24> text{};
    auto put = [&text](int at, qint64 value, int digits) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
    };
    put(0, year, 4);
    text[4] = '-';
    put(5, month, 2);
    text[7] = '-';
    put(8, day, 2);
    text[10] = 'T';
    put(11, inDay / 3600000, 2);
    text[13] = ':';
    put(14, inDay / 60000 % 60, 2);
    text[16] = ':';
    put(17, inDay / 1000 % 60, 2);
    text[19] = '.';
    put(20, inDay % 1000, 3);
    text[23] = 'Z';
    return text;
}
