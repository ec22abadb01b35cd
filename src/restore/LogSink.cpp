#include "restore/LogSink.h"

#include <stdexcept>

QString FormatLogTemplate(const QString& logTemplate, const QStringList& arguments) {
    static const QString placeholder = QStringLiteral("%s");
    QString result;
    qsizetype from = 0;
    qsizetype used = 0;
    for (qsizetype at = logTemplate.indexOf(placeholder); at >= 0;
         at = logTemplate.indexOf(placeholder, from)) {
        if (used == arguments.size())
            throw std::runtime_error("Format '" + logTemplate.toStdString() +
                                     "' invalid or incompatible with argument");
        result += QStringView(logTemplate).mid(from, at - from);
        result += arguments.at(used++);
        from = at + placeholder.size();
    }
    if (used != arguments.size())
        throw std::runtime_error("Format '" + logTemplate.toStdString() +
                                 "' invalid or incompatible with argument");
    return result + QStringView(logTemplate).mid(from);
}
