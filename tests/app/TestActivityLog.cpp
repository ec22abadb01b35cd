#include "app/ActivityLog.h"
#include "restore/LogSink.h"

#include <QtTest>

class TestActivityLog : public QObject {
    Q_OBJECT

  private slots:
    void lineCarriesTheLocalTimestamp_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        const QDateTime morning(QDate(2024, 1, 31), QTime(4, 5, 9, 999));
        QTest::newRow("padded fields, no fraction") << morning << "Downloading backup file"
                                                    << "2024-01-31 04:05:09: Downloading backup file";
        QTest::newRow("percent kept") << morning << "pg_restore -d 100%db"
                                      << "2024-01-31 04:05:09: pg_restore -d 100%db";
        QTest::newRow("empty message") << QDateTime(QDate(2023, 12, 1), QTime(23, 59, 59)) << ""
                                       << "2023-12-01 23:59:59: ";
    }
    void lineCarriesTheLocalTimestamp() {
        QFETCH(QDateTime, time);
        QFETCH(QString, message);
        QFETCH(QString, line);
        QCOMPARE(FormatLogLine(time, message), line);
    }

    void templateFillsEachPlaceholderInOrder() {
        QCOMPARE(FormatLogTemplate(QStringLiteral("Dropping database: %s"), {QStringLiteral("50%s off")}),
                 QStringLiteral("Dropping database: 50%s off"));
        QCOMPARE(FormatLogTemplate(QStringLiteral("%s-%s"), {QStringLiteral("a"), QStringLiteral("b")}),
                 QStringLiteral("a-b"));
    }

    void mismatchedTemplateRaises() {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 FormatLogTemplate(QStringLiteral("%s and %s"), {QStringLiteral("x")}));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 FormatLogTemplate(QStringLiteral("none"), {QStringLiteral("x")}));
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "TestActivityLog.moc"
