#include "restore/CommandLine.h"

QStringList SplitCommandLine(const QString& parameters) {
    QStringList arguments;
    QString current;
    bool inArgument = false; // an argument has begun, even if it is still empty ("")
    bool quoted = false;
    const qsizetype length = parameters.size();

    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = parameters.at(i);
        if (c == u'\\') {
            qsizetype backslashes = 0;
            while (i < length && parameters.at(i) == u'\\') {
                ++backslashes;
                ++i;
            }
            inArgument = true;
            if (i < length && parameters.at(i) == u'"') {
                current += QString(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current += u'"';
                    continue;
                }
            } else {
                current += QString(backslashes, u'\\');
            }
            --i; // let the loop look at the character after the backslashes
            continue;
        }
        if (c == u'"') {
            inArgument = true;
            if (quoted && i + 1 < length && parameters.at(i + 1) == u'"') {
                current += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if ((c == u' ' || c == u'\t') && !quoted) {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
            continue;
        }
        current += c;
        inArgument = true;
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

namespace {

QString QuoteArgument(const QString& argument) {
    const bool plain = !argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t') &&
                       !argument.contains(u'"');
    if (plain)
        return argument;
    QString quoted(1, u'"');
    qsizetype backslashes = 0;
    for (const QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"')
            quoted += QString(2 * backslashes + 1, u'\\');
        else
            quoted += QString(backslashes, u'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted + QString(2 * backslashes, u'\\') + u'"';
}

} // namespace

QString JoinCommandLine(const QStringList& arguments) {
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (const QString& argument : arguments)
        quoted.append(QuoteArgument(argument));
    return quoted.join(u' ');
}
