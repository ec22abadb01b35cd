#pragma once

#include "app/CorvaneForm.h"
#include "support/Control.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStringList>

// The activity log's messages without their timestamps, after checking that every line has one.
inline QStringList LogMessages(const TCorvaneEditorForm& form) {
    static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}: (.*)$"));
    QStringList messages;
    const QString log = Control<QPlainTextEdit>(form, "MemoLog")->toPlainText();
    for (const QString& text : log.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        messages << (match.hasMatch() ? match.captured(1) : QStringLiteral("<no timestamp> ") + text);
    }
    return messages;
}
