#include "restore/LogSink.h"

#include "core/Error.h"

namespace {

[[noreturn]] void ThrowMismatch(const QString& logTemplate) {
    throw TError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(logTemplate));
}

} // namespace

QString FormatLogTemplate(const QString& logTemplate, const QStringList& arguments) {
    static const QString placeholder = QStringLiteral("%s");
    QString result;
    qsizetype from = 0;
    qsizetype used = 0;
    for (qsizetype at = logTemplate.indexOf(placeholder); at >= 0;
         at = logTemplate.indexOf(placeholder, from)) {
        if (used == arguments.size())
            ThrowMismatch(logTemplate);
        result += QStringView(logTemplate).mid(from, at - from);
        result += arguments.at(used++);
        from = at + placeholder.size();
    }
    if (used != arguments.size())
        ThrowMismatch(logTemplate);
    return result + QStringView(logTemplate).mid(from);
}
