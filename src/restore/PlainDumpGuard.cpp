#include "restore/PlainDumpGuard.h"

#include "core/Error.h"

#include <optional>

namespace {

using TTokenKind = TPsqlScanner::TTokenKind;

template <typename Token> bool IsWord(const Token& token, const char* word) {
    return token.Kind == TTokenKind::Word && token.Text == word;
}

// A setting's yes or no as the server reads it: on, off, and any start of true, yes, false, no.
template <typename Token> std::optional<bool> SettingValue(const Token& token) {
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
    : backupName_(backupName) {}

void TPlainDumpGuard::Take(QByteArrayView bytes) {
    scanner_.Take(bytes);
}

void TPlainDumpGuard::Finish() {
    scanner_.Finish();
    if (!reason_.isEmpty())
        Throw({});
}

void TPlainDumpGuard::Token(const TPsqlScanner::TToken& token) {
    if (tokens_ < KeptTokens)
        first_[tokens_] = {token.Kind, token.Text.toByteArray(), token.Line, token.Column};
    if (tokens_ <= KeptTokens)
        ++tokens_;
    if (tokens_ == 2 && IsWord(token, "database")) {
        const TKeptToken& verb = first_[0];
        if (IsWord(verb, "create"))
            Refuse(QStringLiteral("creates a database"), verb.Line, verb.Column);
        else if (IsWord(verb, "drop"))
            Refuse(QStringLiteral("drops a database"), verb.Line, verb.Column);
        else if (IsWord(verb, "alter"))
            Refuse(QStringLiteral("alters a database"), verb.Line, verb.Column);
    }
    if (tokens_ >= 2 && IsWord(first_[0], "copy")) {
        fromStdin_ = fromStdin_ || (afterFrom_ && IsWord(token, "stdin"));
        afterFrom_ = IsWord(token, "from");
    }
}

void TPlainDumpGuard::Semicolon(bool psqlSends) {
    FollowStandardStrings();
    // psql reads COPY data only after a COPY that is a query of its own; where the server would find
    // one inside a longer query, which lines are data cannot be told.
    if (fromStdin_) {
        if (psqlSends && statementsUnsent_ == 0)
            scanner_.CopyDataFollows();
        else
            Unclear(first_[0].Line, first_[0].Column);
    }
    tokens_ = 0;
    afterFrom_ = false;
    fromStdin_ = false;
    statementStart_.clear();
    statementsUnsent_ = psqlSends ? 0 : statementsUnsent_ + 1;
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
    if (!reason_.isEmpty() && refusedLine_ == line)
        Throw(refusedColumn_ < lineStart.size() ? lineStart.sliced(refusedColumn_) : QByteArrayView());
    if (tokens_ > 0 && first_[0].Line == line && first_[0].Column < lineStart.size())
        statementStart_ = lineStart.sliced(first_[0].Column).toByteArray();
}

// SET [SESSION | LOCAL] standard_conforming_strings { = | TO } value, and RESET: psql reads '' strings by
// it from the next line on.
void TPlainDumpGuard::FollowStandardStrings() {
    if (tokens_ >= 2 && IsWord(first_[0], "reset") &&
        (IsWord(first_[1], "standard_conforming_strings") || IsWord(first_[1], "all"))) {
        scanner_.SetStandardStrings(true);
        return;
    }
    if (tokens_ == 0 || !IsWord(first_[0], "set"))
        return;
    int at = 1;
    if (tokens_ > at && (IsWord(first_[at], "session") || IsWord(first_[at], "local")))
        ++at;
    if (tokens_ < at + 3 || !IsWord(first_[at], "standard_conforming_strings"))
        return;
    const TKeptToken& assign = first_[at + 1];
    if (!(assign.Kind == TTokenKind::Symbol && assign.Text == "=") && !IsWord(assign, "to"))
        return;
    const TKeptToken& value = first_[at + 2];
    if (IsWord(value, "default"))
        scanner_.SetStandardStrings(true);
    else if (const std::optional<bool> standard = SettingValue(value))
        scanner_.SetStandardStrings(*standard);
}

// The first refusal counts. It is thrown once its line has ended, so the message can quote the line;
// a statement refused on a later line than it began was quoted when that line ended.
void TPlainDumpGuard::Refuse(const QString& reason, qint64 line, qsizetype column) {
    if (!reason_.isEmpty())
        return;
    reason_ = reason;
    refusedLine_ = line;
    refusedColumn_ = column;
    if (line < scanner_.Line())
        Throw(statementStart_);
}

void TPlainDumpGuard::Throw(QByteArrayView text) const {
    QString quoted = QString::fromUtf8(text).trimmed();
    if (quoted.size() > 80)
        quoted = quoted.left(80) + QStringLiteral("...");
    const QString where = quoted.isEmpty()
                              ? QStringLiteral("line %1").arg(refusedLine_)
                              : QStringLiteral("line %1: %2").arg(QString::number(refusedLine_), quoted);
    throw Error(
        QStringLiteral("The backup \"%1\" is a plain SQL dump that %2 (%3); Corvane restores only plain "
                       "dumps of one database, as pg_dump writes them without --create")
            .arg(backupName_, reason_, where));
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
