#pragma once

#include "restore/DumpReader.h"
#include "restore/PsqlScanner.h"

#include <QByteArrayView>
#include <QString>

#include <functional>

// Refuses a plain SQL dump that would reach beyond the one database it is restored into. Such a dump
// is made by pg_dump --create (CREATE DATABASE, then \connect to it) or by pg_dumpall (\connect to
// every database), or written by hand; psql would follow it into the databases it names, which may be
// the very ones in use. Refused, at the first one, are:
// - every backslash command but \restrict and \unrestrict, which pg_dump writes around a dump: \connect
//   above all, but also \! (a shell), \i (a file not looked at here), \o, \gexec (SQL made at run time)
//   and \set (ON_ERROR_STOP off would hide a failed restore);
// - CREATE DATABASE, DROP DATABASE and ALTER DATABASE, of any name.
// The text is read as psql reads it (TPsqlScanner): within strings, quoted names, dollar-quoted bodies,
// comments and COPY data such words are data and pass. SET standard_conforming_strings is followed; a
// change of it made any other way (set_config, a function) is not, nor SQL that builds SQL at run time,
// nor functions that reach other databases (dblink): a dump must be trusted to run in the database it
// is restored into. This holds only for psql run with ON_ERROR_STOP: without it, the data of a COPY that
// fails would be read as commands.
class TPlainDumpGuard : private TPsqlScanner::TListener {
  public:
    // The backup's name goes into the message.
    explicit TPlainDumpGuard(const QString& backupName);

    // Reads the next bytes of the dump. Throws TError, "The backup "<name>" is a plain SQL dump that
    // connects to another database (line 22: \connect sales); ...", at the latest once the line of the
    // first refused command has ended, so psql, which runs a line only once its newline has come, never
    // runs it when every block reaches psql only after it has passed here.
    void Take(QByteArrayView bytes);
    // The dump has ended; psql runs its last line also without a newline, so that is looked at too.
    void Finish();

  private:
    void Token(const TPsqlScanner::TToken& token) override;
    void Semicolon(bool psqlSends) override;
    void BackslashCommand(const QByteArray& name, qint64 line, qsizetype column) override;
    void Unclear(qint64 line, qsizetype column) override;
    void LineEnds(qint64 line, QByteArrayView lineStart) override;

    void FollowStandardStrings();
    void Refuse(const QString& reason, qint64 line, qsizetype column);
    [[noreturn]] void Throw(QByteArrayView text) const;

    QString FBackupName;
    TPsqlScanner FScanner{*this};

    // The statement at hand, as the server splits statements (at every semicolon), by its first tokens.
    struct TKeptToken {
        TPsqlScanner::TTokenKind Kind = TPsqlScanner::TTokenKind::Symbol;
        QByteArray Text;
        qint64 Line = 0;
        qsizetype Column = 0;
    };
    static constexpr int KeptTokens = 5;
    TKeptToken FFirst[KeptTokens];
    int FTokens = 0;
    bool FAfterFrom = false;    // a COPY's last token was FROM
    bool FFromStdin = false;    // a COPY ... FROM STDIN: psql reads COPY data after it
    int FStatementsUnsent = 0;  // statements ended since psql last sent a query
    QByteArray FStatementStart; // the statement's first line from its first token, once that line ended

    QString FReason;
    qint64 FRefusedLine = 0;
    qsizetype FRefusedColumn = 0;
};

// The standard input of psql restoring a plain dump (TProgramWatch::Input): the reader's blocks, each
// handed on only once the guard has passed it. Throws what they throw.
std::function<QByteArray()> GuardedDumpInput(TDumpReader& reader, TPlainDumpGuard& guard);
