#pragma once

#include "core/Error.h"
#include "restore/PgQuoting.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// The throw-away PostgreSQL cluster that the CTest fixture "pgcluster" starts for the whole test run
// (list FIXTURES pgcluster).
// FromFixture() puts its PGHOST and PGPORT into this process's environment, so every client program the
// test starts, through the tool's own code or through the helpers here, reaches that cluster. Tests share
// it, so each test uses database names of its own. The superuser is "postgres"; no password is asked.
class TPgTestCluster {
  public:
    static constexpr const char* User = "postgres";

    // Reads the env file the fixture left in the test state folder; throws when it is absent.
    static TPgTestCluster FromFixture() {
        const QString envPath = QStringLiteral(CORVANE_TEST_STATE_DIR "/pgcluster/env");
        QFile env(envPath);
        if (!env.open(QIODevice::ReadOnly))
            throw TError(QStringLiteral("The pgcluster fixture has not started: no %1").arg(envPath));
        while (!env.atEnd()) {
            const QByteArray line = env.readLine().trimmed();
            const qsizetype equals = line.indexOf('=');
            if (equals > 0)
                qputenv(line.left(equals).constData(), line.mid(equals + 1));
        }
        return TPgTestCluster();
    }

    // Runs a client program with the given arguments and returns its standard output; throws with its
    // error output when it fails.
    static QString Run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        if (!process.waitForStarted(-1) || !process.waitForFinished(-1) ||
            process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            throw TError(QStringLiteral("%1 %2 failed: %3 %4")
                             .arg(program, arguments.join(u' '), process.errorString(),
                                  QString::fromLocal8Bit(process.readAllStandardError())));
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    // Runs SQL in a database: the rows of the last statement, one line each, fields separated by "|". Any
    // database name is only a name here, one holding "=" or beginning with "-" included.
    QString Query(const QString& database, const QString& sql) const {
        return Run(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                    QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-U"),
                    QString::fromLatin1(User), QStringLiteral("-d"),
                    QStringLiteral("dbname=") + QuoteConnectionValue(database), QStringLiteral("-c"), sql})
            .trimmed();
    }

    bool DatabaseExists(const QString& database) const {
        return Query(QStringLiteral("postgres"),
                     QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = %1")
                         .arg(QuoteLiteral(database))) == QStringLiteral("1");
    }

    // Creates a fresh database (dropping one of that name first) and runs the SQL in it.
    void CreateDatabase(const QString& database, const QString& sql) const {
        DropDatabase(database);
        Run(QStringLiteral("createdb"),
            {QStringLiteral("-U"), QString::fromLatin1(User), QStringLiteral("--"), database});
        Query(database, sql);
    }

    void DropDatabase(const QString& database) const {
        Run(QStringLiteral("dropdb"),
            {QStringLiteral("--if-exists"), QStringLiteral("--force"), QStringLiteral("-U"),
             QString::fromLatin1(User), QStringLiteral("--"), database});
    }

    // Writes an archive of the database as pg_dump makes it with these options: by default a custom-format
    // one (-Fc).
    void Dump(const QString& database, const QString& path,
              const QStringList& options = {QStringLiteral("-Fc")}) const {
        Run(QStringLiteral("pg_dump"), options + QStringList{QStringLiteral("-U"), QString::fromLatin1(User),
                                                             QStringLiteral("-f"), path, database});
    }

  private:
    TPgTestCluster() = default;
};
