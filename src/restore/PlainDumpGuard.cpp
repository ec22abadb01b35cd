#include "restore/PlainDumpGuard.h"

#include "core/Error.h"

#include <optional>

namespace {

using TTokenKind = TPsqlScanner::TTokenKind;

template <typename TToken> bool IsWord(const TToken& token, const char* word) {
    return token.Kind == TTokenKind::Word && token.Text == word;
}

// A setting's yes or no as the server reads it: on, off, and any start of true, yes, false, no.
template <typename TToken> std::optional<bool> SettingValue(const TToken& token) {
    if (token.Kind == TTokenKind::Symbol || token.Kind == TTokenKind::QuotedName)
        return std::nullopt;
    const QByteArray value = token.Text.toLower();
    if (value.isEmpty())
        return std::nullopt;
    if (value == "on" || value == "1" || QByteArray("true").startsWith(value) ||
        QByteArray("yes").startsWith(value))
        return true;
    if (value == "of" || value == "off" || value == "0" || QByteArray("false").startsWith(value) ||
        QByteArray("no").startsWith(value))
        return false;
    return std::nullopt;
}

} // namespace

TPlainDumpGuard::TPlainDumpGuard(const QString& backupName)
    : FBackupName(backupName) {}

void TPlainDumpGuard::Take(QByteArrayView bytes) {
    FScanner.Take(bytes);
}

void TPlainDumpGuard::Finish() {
    FScanner.Finish();
    if (!FReason.isEmpty())
        Throw({});
}

void TPlainDumpGuard::Token(const TPsqlScanner::TToken& token) {
    if (FTokens < KeptTokens)
        FFirst[FTokens] = {token.Kind, token.Text.toByteArray(), token.Line, token.Column};
    if (FTokens <= KeptTokens)
        ++FTokens;
    if (FTokens == 2 && IsWord(token, "database")) {
        const TKeptToken& verb = FFirst[0];
        if (IsWord(verb, "create"))
            Refuse(QStringLiteral("creates a database"), verb.Line, verb.Column);
        else if (IsWord(verb, "drop"))
            Refuse(QStringLiteral("drops a database"), verb.Line, verb.Column);
        else if (IsWord(verb, "alter"))
            Refuse(QStringLiteral("alters a database"), verb.Line, verb.Column);
    }
    if (FTokens >= 2 && IsWord(FFirst[0], "copy")) {
        FFromStdin = FFromStdin || (FAfterFrom && IsWord(token, "stdin"));
        FAfterFrom = IsWord(token, "from");
    }
}

void TPlainDumpGuard::Semicolon(bool psqlSends) {
    FollowStandardStrings();
    // psql reads COPY data only after a COPY that is a query of its own; where the server would find
    // one inside a longer query, which lines are data cannot be told.
    if (FFromStdin) {
        if (psqlSends && FStatementsUnsent == 0)
            FScanner.CopyDataFollows();
        else
            Unclear(FFirst[0].Line, FFirst[0].Column);
    }
    FTokens = 0;
    FAfterFrom = false;
    FFromStdin = false;
    FStatementStart.clear();
    FStatementsUnsent = psqlSends ? 0 : FStatementsUnsent + 1;
}

void TPlainDumpGuard::BackslashCommand(const QByteArray& name, qint64 line, qsizetype column) {
    if (name == "restrict" || name == "unrestrict")
        return;
    if (name == "c" || name == "connect")
        Refuse(QStringLiteral("connects to another database"), line, column);
    else
        Refuse(QStringLiteral("runs the psql command \\%1").arg(QString::fromUtf8(name)), line, column);
}

void TPlainDumpGuard::Unclear(qint64 line, qsizetype column) {
    Refuse(QStringLiteral("holds text that psql versions read differently"), line, column);
}

void TPlainDumpGuard::LineEnds(qint64 line, QByteArrayView lineStart) {
    if (!FReason.isEmpty() && FRefusedLine == line)
        Throw(FRefusedColumn < lineStart.size() ? lineStart.sliced(FRefusedColumn) : QByteArrayView());
    if (FTokens > 0 && FFirst[0].Line == line && FFirst[0].Column < lineStart.size())
        FStatementStart = lineStart.sliced(FFirst[0].Column).toByteArray();
}

// SET [SESSION | LOCAL] standard_conforming_strings { = | TO } value, and RESET: psql reads '' strings by
// it from the next line on.
void TPlainDumpGuard::FollowStandardStrings() {
    if (FTokens >= 2 && IsWord(FFirst[0], "reset") &&
        (IsWord(FFirst[1], "standard_conforming_strings") || IsWord(FFirst[1], "all"))) {
        FScanner.SetStandardStrings(true);
        return;
    }
    if (FTokens == 0 || !IsWord(FFirst[0], "set"))
        return;
    int at = 1;
    if (FTokens > at && (IsWord(FFirst[at], "session") || IsWord(FFirst[at], "local")))
        ++at;
    if (FTokens < at + 3 || !IsWord(FFirst[at], "standard_conforming_strings"))
        return;
    const TKeptToken& assign = FFirst[at + 1];
    if (!(assign.Kind == TTokenKind::Symbol && assign.Text == "=") && !IsWord(assign, "to"))
        return;
    const TKeptToken& value = FFirst[at + 2];
    if (IsWord(value, "default"))
        FScanner.SetStandardStrings(true);
    else if (const std::optional<bool> standard = SettingValue(value))
        FScanner.SetStandardStrings(*standard);
}

// The first refusal counts. It is thrown once its line has ended, so the message can quote the line;
// a statement refused on a later line than it began was quoted when that line ended.
void TPlainDumpGuard::Refuse(const QString& reason, qint64 line, qsizetype column) {
    if (!FReason.isEmpty())
        return;
    FReason = reason;
    FRefusedLine = line;
    FRefusedColumn = column;
    if (line < FScanner.Line())
        Throw(FStatementStart);
}

void TPlainDumpGuard::Throw(QByteArrayView text) const {
    QString quoted = QString::fromUtf8(text).trimmed();
    if (quoted.size() > 80)
        quoted = quoted.left(80) + QStringLiteral("...");
    const QString where = quoted.isEmpty()
                              ? QStringLiteral("line %1").arg(FRefusedLine)
                              : QStringLiteral("line %1: %2").arg(QString::number(FRefusedLine), quoted);
    throw TError(
        QStringLiteral("The backup \"%1\" is a plain SQL dump that %2 (%3); Corvane restores only plain "
                       "dumps of one database, as pg_dump writes them without --create")
            .arg(FBackupName, FReason, where));
}

std::function<QByteArray()> GuardedDumpInput(TDumpReader& reader, TPlainDumpGuard& guard) {
    return [&reader, &guard] {
        QByteArray block = reader.Read();
        if (block.isEmpty())
            guard.Finish();
        else
            guard.Take(block);
        return block;
    };
}
