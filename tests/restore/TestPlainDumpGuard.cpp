#include "restore/PlainDumpGuard.h"
#include "support/ErrorOf.h"

#include <QTest>

namespace {

QString Refused(const QString& what) {
    return QStringLiteral("The backup \"sales.sql\" is a plain SQL dump that %1; Corvane restores only plain "
                          "dumps of one database, as pg_dump writes them without --create")
        .arg(what);
}

// The dump of one database as pg_dump writes it, with the words the guard looks for as data: in a
// comment, a function body, strings and COPY data, escaped and not.
const QByteArray SingleDatabaseDump = R"(--
-- PostgreSQL database dump
--

\restrict 8fKq2Xw

SET statement_timeout = 0;
SET standard_conforming_strings = on;
SELECT pg_catalog.set_config('search_path', '', false);

CREATE FUNCTION public.note() RETURNS text
    LANGUAGE plpgsql
    AS $_$
BEGIN
  -- \connect sales
  RETURN 'CREATE DATABASE x; \connect y';
END
$_$;

CREATE TABLE public.notes (id integer, body text);

COPY public.notes (id, body) FROM stdin;
1	\\connect sales
2	CREATE DATABASE x;
\connect sales
\.

\unrestrict 8fKq2Xw
)";

} // namespace

// What the guard lets through to psql and what it refuses, read in one piece and in small blocks alike.
class TestPlainDumpGuard : public QObject {
    Q_OBJECT

  private slots:
    void reads_data();
    void reads();
};

void TestPlainDumpGuard::reads_data() {
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<QString>("error");
    // The line whose newline psql must never get: the one that completes the refused command.
    QTest::addColumn<int>("stopBy");

    QTest::newRow("single-database dump") << SingleDatabaseDump << QString() << 0;
    QTest::newRow("\\connect") << QByteArray("SELECT 1;\n\\connect sales\nSELECT 2;\n")
                               << Refused("connects to another database (line 2: \\connect sales)") << 2;
    QTest::newRow("\\c after a statement on its line")
        << QByteArray("SELECT 1; \\c sales\n") << Refused("connects to another database (line 1: \\c sales)")
        << 1;
    QTest::newRow("pg_dump --create")
        << QByteArray(
               "--\n-- PostgreSQL database dump\n--\n\n"
               "CREATE DATABASE sales WITH TEMPLATE = template0 ENCODING = 'UTF8';\n\n\\connect sales\n")
        << Refused("creates a database (line 5: CREATE DATABASE sales WITH TEMPLATE = template0 ENCODING = "
                   "'UTF8';)")
        << 5;
    QTest::newRow("DROP DATABASE") << QByteArray("DROP DATABASE IF EXISTS sales;\n")
                                   << Refused("drops a database (line 1: DROP DATABASE IF EXISTS sales;)")
                                   << 1;
    QTest::newRow("ALTER DATABASE RENAME")
        << QByteArray("SELECT 1; ALTER DATABASE sales RENAME TO sales_old;\n")
        << Refused("alters a database (line 1: ALTER DATABASE sales RENAME TO sales_old;)") << 1;
    QTest::newRow("statement over lines, comment between")
        << QByteArray("SELECT 1;\ncreate\n  /* why */ Database sales;\n")
        << Refused("creates a database (line 2: create)") << 3;
    QTest::newRow("after the COPY data")
        << QByteArray("COPY t FROM stdin;\n\\connect a\n\\.\n\\connect sales\n")
        << Refused("connects to another database (line 4: \\connect sales)") << 4;
    QTest::newRow("two COPYs sent from one line")
        << QByteArray("COPY a FROM stdin; COPY b FROM STDIN;\n1\n\\.\n\\connect x\n\\.\n\\connect sales\n")
        << Refused("connects to another database (line 6: \\connect sales)") << 6;
    QTest::newRow("dollar-quoted bodies, nested by tag")
        << QByteArray("CREATE FUNCTION f() RETURNS void LANGUAGE plpgsql AS $fn$\nBEGIN\n  EXECUTE $$\n"
                      "\\connect sales\n$$;\nEND\n$fn$;\nSELECT $a$ $b$ \\connect sales $a$;\n")
        << QString() << 0;
    QTest::newRow("after a dollar-quoted body")
        << QByteArray("DO $x$ BEGIN END $x$; \\connect sales\n")
        << Refused("connects to another database (line 1: \\connect sales)") << 1;
    QTest::newRow("strings and quoted names")
        << QByteArray("SELECT 'it''s \\connect a', E'\\'\\connect b', \"\\connect\"\"c\";\n") << QString()
        << 0;
    QTest::newRow("standard string ends at backslash quote")
        << QByteArray("SELECT 'C:\\'; \\connect sales --';\n")
        << Refused("connects to another database (line 1: \\connect sales --';)") << 1;
    QTest::newRow("standard_conforming_strings off")
        << QByteArray("SET standard_conforming_strings = off;\nSELECT 'C:\\'; \\connect sales --';\n")
        << QString() << 0;
    QTest::newRow("standard_conforming_strings off, same line")
        << QByteArray("SET standard_conforming_strings TO 'off'; SELECT 'C:\\'; \\connect sales --';\n")
        << Refused("connects to another database (line 1: \\connect sales --';)") << 1;
    QTest::newRow("comments, nested")
        << QByteArray("/* \\connect a /* b */ \\connect c */ -- \\connect d\n") << QString() << 0;
    QTest::newRow("comment ends at carriage return")
        << QByteArray("-- note\r\\connect sales\n")
        << Refused("connects to another database (line 1: \\connect sales)") << 1;
    QTest::newRow("last line without newline")
        << QByteArray("SELECT 1;\n\\connect sales")
        << Refused("connects to another database (line 2: \\connect sales)") << 2;
    QTest::newRow("second command after \\restrict")
        << QByteArray("\\restrict k1 \\connect sales\n")
        << Refused("connects to another database (line 1: \\connect sales)") << 1;
    QTest::newRow("other backslash command") << QByteArray("SELECT 1;\n\\set ON_ERROR_STOP off\n")
                                             << Refused("runs the psql command \\set (line 2: \\set "
                                                        "ON_ERROR_STOP off)")
                                             << 2;
    // psql bundles what follows "CREATE FUNCTION begin" up to "end;" into one query; the server could run
    // the COPY inside it, and which lines are then data cannot be told.
    QTest::newRow("COPY inside a bundled query")
        << QByteArray("CREATE FUNCTION begin() RETURNS int LANGUAGE sql AS 'SELECT 1'; COPY t FROM stdin; "
                      "end;\n1\n\\.\n")
        << Refused("holds text that psql versions read differently (line 1: COPY t FROM stdin; end;)") << 1;
    QTest::newRow("number against a quote")
        << QByteArray("SELECT 1e'\\'; \\connect sales --';\n")
        << Refused("holds text that psql versions read differently (line 1: 1e'\\'; \\connect sales --';)")
        << 1;
}

void TestPlainDumpGuard::reads() {
    QFETCH(QByteArray, dump);
    QFETCH(QString, error);
    QFETCH(int, stopBy);

    // The end of the line that psql must not get: the guard throws on a byte before it at the latest.
    qsizetype limit = dump.size();
    for (qsizetype at = 0, line = 1; at < dump.size(); ++at) {
        if (dump[at] == '\n' && line++ == stopBy) {
            limit = at;
            break;
        }
    }
    for (const qsizetype block : {dump.size(), qsizetype(1), qsizetype(5)}) {
        TPlainDumpGuard guard(QStringLiteral("sales.sql"));
        qsizetype at = 0;
        const QString message = ErrorOf([&] {
            for (; at < dump.size(); at += block)
                guard.Take(QByteArrayView(dump).sliced(at, qMin(block, dump.size() - at)));
            guard.Finish();
        });
        QCOMPARE(message, error);
        if (!error.isEmpty() && block == 1)
            QVERIFY2(at <= limit,
                     qPrintable(QStringLiteral("thrown at byte %1, after %2").arg(at).arg(limit)));
    }
}

QTEST_GUILESS_MAIN(TestPlainDumpGuard)
#include "TestPlainDumpGuard.moc"
