#include "restore/ArchiveFormat.h"
#include "restore/CommandLine.h"
#include "restore/DumpReader.h"
#include "restore/PlainDumpGuard.h"
#include "restore/RunAndWait.h"
#include "support/ErrorOf.h"
#include "support/FileContents.h"
#include "support/PgTestCluster.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

const QString SourceDatabase = QStringLiteral("corvane_formats_source");
const QString TargetDatabase = QStringLiteral("corvane_formats_target");

// Rows whose text a careless reading of the dump would take for commands, a function whose body does
// the same, and a database setting, which pg_dump without --create leaves out.
const QString SampleSql = QStringLiteral(
    "CREATE TABLE notes (id integer PRIMARY KEY, body text);"
    "INSERT INTO notes VALUES (1, E'\\\\connect sales'), (2, 'CREATE DATABASE x;'), (3, 'Ana Lúcia');"
    "INSERT INTO notes SELECT g, 'row ' || g FROM generate_series(4, 20000) AS g;"
    "CREATE FUNCTION note_count() RETURNS bigint LANGUAGE plpgsql AS $$ BEGIN\n-- \\connect sales\n"
    "RETURN (SELECT count(*) FROM notes); END $$;"
    "ALTER DATABASE corvane_formats_source SET work_mem = '8MB';");
const QString SampleRows = QStringLiteral(
    "SELECT (SELECT string_agg(body, ',' ORDER BY id) FROM notes WHERE id <= 3), note_count()");
const QString PublicTables = QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'");

// gzip's own output, through the gzip program.
void GzipFile(const QString& from, const QString& to) {
    QProcess gzip;
    gzip.setStandardOutputFile(to);
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-c"), from});
    if (!gzip.waitForFinished(-1) || gzip.exitStatus() != QProcess::NormalExit || gzip.exitCode() != 0)
        throw TError(QStringLiteral("gzip -c %1 failed").arg(from));
}

// A tar header as any tar program writes one, naming a member that pg_dump never writes first.
QByteArray OtherTar() {
    QByteArray header(1024, '\0');
    header.replace(0, 9, "notes.txt");
    header.replace(257, 8,
                   QByteArray("ustar\0"
                              "00",
                              8));
    return header;
}

} // namespace

// Real dumps of the test cluster's pg_dump in every format, told apart by their content and restored
// through standard input; and files that are no dumps.
class TestDumpFormats : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void detects_data();
    void detects();
    void restoresFromStandardInput_data();
    void restoresFromStandardInput();

  private:
    QString File(const QString& name) const { return FDir.filePath(name); }

    std::optional<TPgTestCluster> FCluster;
    QTemporaryDir FDir;
    QString FSourceRows;
};

void TestDumpFormats::initTestCase() {
    QVERIFY(FDir.isValid());
    FCluster = TPgTestCluster::FromFixture();
    FCluster->CreateDatabase(SourceDatabase, SampleSql);
    FSourceRows = FCluster->Query(SourceDatabase, SampleRows);

    // Named against their content: the name never decides.
    FCluster->Dump(SourceDatabase, File(QStringLiteral("custom.sql")));
    FCluster->Dump(SourceDatabase, File(QStringLiteral("tar.backup")), {QStringLiteral("-Ft")});
    FCluster->Dump(SourceDatabase, File(QStringLiteral("plain.backup")), {QStringLiteral("-Fp")});
    FCluster->Dump(SourceDatabase, File(QStringLiteral("plain.sql.gz")),
                   {QStringLiteral("-Fp"), QStringLiteral("-Z6")});
    FCluster->Dump(SourceDatabase, File(QStringLiteral("created.sql")),
                   {QStringLiteral("-Fp"), QStringLiteral("--create")});
    GzipFile(File(QStringLiteral("custom.sql")), File(QStringLiteral("custom.gz")));
    GzipFile(File(QStringLiteral("tar.backup")), File(QStringLiteral("tar.gz")));

    // Two gzip members one after the other, as "cat a.gz b.gz" makes them.
    const QByteArray plain = ReadAll(File(QStringLiteral("plain.backup")));
    const qsizetype half = plain.size() / 2;
    QVERIFY(WriteFile(File(QStringLiteral("first")), plain.left(half)));
    QVERIFY(WriteFile(File(QStringLiteral("second")), plain.mid(half)));
    GzipFile(File(QStringLiteral("first")), File(QStringLiteral("first.gz")));
    GzipFile(File(QStringLiteral("second")), File(QStringLiteral("second.gz")));
    QVERIFY(
        WriteFile(File(QStringLiteral("members.sql.gz")),
                  ReadAll(File(QStringLiteral("first.gz"))) + ReadAll(File(QStringLiteral("second.gz")))));

    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 37 % 256);
    QVERIFY(WriteFile(File(QStringLiteral("binary.sql")), binary));
    GzipFile(File(QStringLiteral("binary.sql")), File(QStringLiteral("binary.gz")));
    QVERIFY(WriteFile(File(QStringLiteral("empty.sql")), {}));
    QVERIFY(WriteFile(File(QStringLiteral("blank.sql")), " \n\t\r\n"));
    QVERIFY(WriteFile(File(QStringLiteral("other.tar")), OtherTar()));
    QVERIFY(WriteFile(File(QStringLiteral("latin1.sql")), "-- Caf\xe9\nSELECT 'Ol\xe1';\n"));
    QVERIFY(WriteFile(File(QStringLiteral("cut.sql.gz")),
                      ReadAll(File(QStringLiteral("plain.sql.gz"))).left(100)));
}

void TestDumpFormats::cleanupTestCase() {
    if (!FCluster)
        return;
    FCluster->DropDatabase(SourceDatabase);
    FCluster->DropDatabase(TargetDatabase);
}

void TestDumpFormats::detects_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<TArchiveFormat>("format");
    QTest::addColumn<bool>("gzipped");
    QTest::addColumn<QString>("error");

    const auto row = [](const char* title, const char* name, TArchiveFormat format, bool gzipped,
                        const QString& error = {}) {
        QTest::newRow(title) << QString::fromLatin1(name) << format << gzipped << error;
    };
    row("custom (pg_dump -Fc)", "custom.sql", TArchiveFormat::Custom, false);
    row("tar (pg_dump -Ft)", "tar.backup", TArchiveFormat::Tar, false);
    row("plain (pg_dump -Fp)", "plain.backup", TArchiveFormat::PlainSql, false);
    row("plain, gzip (pg_dump -Fp -Z6)", "plain.sql.gz", TArchiveFormat::PlainSql, true);
    row("plain, two gzip members", "members.sql.gz", TArchiveFormat::PlainSql, true);
    row("custom, gzip", "custom.gz", TArchiveFormat::Custom, true);
    row("tar, gzip", "tar.gz", TArchiveFormat::Tar, true);
    row("text in Latin-1", "latin1.sql", TArchiveFormat::PlainSql, false);
    row("binary", "binary.sql", TArchiveFormat::Unknown, false);
    row("binary, gzip", "binary.gz", TArchiveFormat::Unknown, true);
    row("empty", "empty.sql", TArchiveFormat::Unknown, false);
    row("white space only", "blank.sql", TArchiveFormat::Unknown, false);
    row("tar not by pg_dump", "other.tar", TArchiveFormat::Unknown, false);
    row("gzip cut short", "cut.sql.gz", TArchiveFormat::Unknown, false,
        "It ends inside its gzip data, so it is incomplete");
    row("missing", "missing.sql", TArchiveFormat::Unknown, false, "No such file or directory");
}

void TestDumpFormats::detects() {
    QFETCH(QString, name);
    QFETCH(TArchiveFormat, format);
    QFETCH(bool, gzipped);
    QFETCH(QString, error);

    TArchiveKind kind;
    QCOMPARE(ErrorOf([&] { kind = DetectArchiveFormat(File(name)); }),
             error.isEmpty() ? QString()
                             : QStringLiteral("Cannot read file \"%1\". %2").arg(File(name), error));
    if (error.isEmpty())
        QCOMPARE(kind, (TArchiveKind{format, gzipped}));
}

void TestDumpFormats::restoresFromStandardInput_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("error");

    const QString psql = QStringLiteral("psql");
    const QString pgRestore = QStringLiteral("pg_restore");
    QTest::newRow("plain") << "plain.backup" << psql << "";
    QTest::newRow("plain, gzip") << "plain.sql.gz" << psql << "";
    QTest::newRow("plain, two gzip members") << "members.sql.gz" << psql << "";
    QTest::newRow("custom") << "custom.sql" << pgRestore << "";
    QTest::newRow("custom, gzip") << "custom.gz" << pgRestore << "";
    QTest::newRow("tar") << "tar.backup" << pgRestore << "";
    QTest::newRow("tar, gzip") << "tar.gz" << pgRestore << "";
    QTest::newRow("plain from pg_dump --create")
        << "created.sql" << psql
        << "The backup \"created.sql\" is a plain SQL dump that creates a database (line ";
}

void TestDumpFormats::restoresFromStandardInput() {
    QFETCH(QString, name);
    QFETCH(QString, program);
    QFETCH(QString, error);

    FCluster->CreateDatabase(TargetDatabase, QStringLiteral("SELECT 1"));
    const QString target = QStringLiteral("dbname=") + QuoteConnectionValue(TargetDatabase);
    const QString user = QString::fromLatin1(TPgTestCluster::User);
    TDumpReader reader(File(name));
    TPlainDumpGuard guard(name);
    TProgramWatch watch;
    QStringList arguments;
    if (program == QStringLiteral("psql")) {
        arguments = {QStringLiteral("-X"),
                     QStringLiteral("-q"),
                     QStringLiteral("-v"),
                     QStringLiteral("ON_ERROR_STOP=1"),
                     QStringLiteral("--single-transaction"),
                     QStringLiteral("-U"),
                     user,
                     QStringLiteral("-d"),
                     target};
        watch.Input = GuardedDumpInput(reader, guard);
    } else {
        arguments = {QStringLiteral("-U"), user, QStringLiteral("-d"), target};
        watch.Input = [&reader] { return reader.Read(); };
    }

    QStringList log;
    TProgramOutcome outcome;
    const QString message = ErrorOf([&] {
        outcome = RunAndWait(
            program, JoinCommandLine(arguments), [&](const QString& line) { log << line; }, watch);
    });
    if (!error.isEmpty()) {
        QVERIFY2(message.startsWith(error), qPrintable(message));
        QCOMPARE(FCluster->Query(TargetDatabase, PublicTables), QStringLiteral("0"));
        return;
    }
    QCOMPARE(message, QString());
    QVERIFY2(outcome.Succeeded(), qPrintable(DescribeFailure(program, outcome) + u'\n' + log.join(u'\n')));
    QCOMPARE(FCluster->Query(TargetDatabase, SampleRows), FSourceRows);
    QCOMPARE(reader.Consumed(), reader.FileSize());
}

QTEST_GUILESS_MAIN(TestDumpFormats)
#include "TestDumpFormats.moc"
