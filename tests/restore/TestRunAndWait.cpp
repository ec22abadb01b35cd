#include "restore/RunAndWait.h"

#include <QTest>
#include <QTimer>

class TestRunAndWait : public QObject {
    Q_OBJECT

  private slots:
    void outcomes_data();
    void outcomes();
    void argumentsReachTheProgramWithoutShell();
    void processesEventsWhileWaiting();
    void outputReachesTheLog_data();
    void outputReachesTheLog();
    void floodOfOutputLetsEventsThrough();
};

void TestRunAndWait::outcomes_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("success") << "sh"
                             << "-c \"exit 0\"" << true << 0 << "";
    QTest::newRow("no parameters") << "true"
                                   << "" << true << 0 << "";
    QTest::newRow("failure") << "sh"
                             << "-c \"exit 3\"" << true << 3 << "sh failed with exit code 3";
    // Exits 0 only when the program leads a session of its own, which has no controlling terminal.
    QTest::newRow("own session") << "sh"
                                 << "-c \"test \\\"$(cut -d' ' -f6 /proc/$$/stat)\\\" = $$\"" << true << 0
                                 << "";
    QTest::newRow("killed") << "sh"
                            << "-c \"kill -9 $$\"" << true << -1 << "sh ended abnormally";
    QTest::newRow("messages in English")
        << "sh"
        << "-c \"test \\\"$LC_MESSAGES\\\" = C && test -z \\\"$LC_ALL$LANGUAGE\\\"\"" << true << 0 << "";
    QTest::newRow("not found") << "corvane-no-such-program"
                               << "--if-exists" << false << -1
                               << "corvane-no-such-program could not be started. ";
}

void TestRunAndWait::outcomes() {
    QFETCH(QString, program);
    QFETCH(QString, parameters);
    QFETCH(bool, started);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QStringList log;
    const TProgramOutcome outcome =
        RunAndWait(program, parameters, [&](const QString& line) { log << line; });

    // The command line is logged before the start, also when the start fails.
    QCOMPARE(log, QStringList{program + u' ' + parameters});
    QCOMPARE(outcome.Started, started);
    QCOMPARE(outcome.ExitCode, exitCode);
    QCOMPARE(outcome.Succeeded(), error.isEmpty());
    try {
        CheckProgramOutcome(program, outcome);
        QVERIFY(error.isEmpty());
    } catch (const std::exception& e) {
        QVERIFY2(!error.isEmpty(), e.what());
        QVERIFY2(QString::fromUtf8(e.what()).startsWith(error), e.what());
    }
}

void TestRunAndWait::argumentsReachTheProgramWithoutShell() {
    // The script exits 0 only when the arguments arrive exactly as split: a quoted blank kept, an empty
    // argument kept, a literal quote, and no variable expanded on the way.
    const QString script = QStringLiteral(
        "[ $# = 4 ] && [ \"$1\" = 'Sales Office.backup' ] && [ -z \"$2\" ] && [ \"$3\" = '$HOME' ]"
        " && [ \"$4\" = 'say \"hi\"' ]");
    QString escaped = script;
    escaped.replace(u'"', QStringLiteral("\\\""));
    const QString parameters =
        QStringLiteral("-c \"%1\" sh \"Sales Office.backup\" \"\" $HOME \"say \\\"hi\\\"\"").arg(escaped);

    const TProgramOutcome outcome = RunAndWait(QStringLiteral("sh"), parameters, [](const QString&) {});
    QVERIFY(outcome.Succeeded());
}

void TestRunAndWait::processesEventsWhileWaiting() {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
    timer.start();

    const TProgramOutcome outcome =
        RunAndWait(QStringLiteral("sleep"), QStringLiteral("0.5"), [](const QString&) {});
    QVERIFY(outcome.Succeeded());
    QVERIFY(ticks > 0);
}

void TestRunAndWait::outputReachesTheLog_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("error");

    // The two channels arrive in no fixed order, so each row writes to one of them.
    QTest::newRow("error line named") << "echo 'pg_restore: error: bad' >&2; echo 'DETAIL:  why' >&2; exit 3"
                                      << QStringList{"pg_restore: error: bad", "DETAIL:  why"}
                                      << "sh failed with exit code 3: pg_restore: error: bad";
    QTest::newRow("without an error word, the last line")
        << "echo first >&2; echo last >&2; echo '' >&2; exit 1" << QStringList{"first", "last", ""}
        << "sh failed with exit code 1: last";
    QTest::newRow("unfinished last line, carriage return dropped")
        << "printf 'a\\r\\nb'" << QStringList{"a", "b"} << "";
    QTest::newRow("long line in parts")
        << "head -c 9000 /dev/zero | tr '\\0' x"
        << QStringList{QString(4096, u'x'), QString(4096, u'x'), QString(808, u'x')} << "";
}

void TestRunAndWait::outputReachesTheLog() {
    QFETCH(QString, script);
    QFETCH(QStringList, lines);
    QFETCH(QString, error);

    QStringList log;
    const QString parameters = QStringLiteral("-c \"%1\"").arg(script);
    const TProgramOutcome outcome =
        RunAndWait(QStringLiteral("sh"), parameters, [&](const QString& line) { log << line; });

    QStringList expected{QStringLiteral("sh ") + parameters};
    for (const QString& line : lines)
        expected << ProgramOutputIndent + line;
    QCOMPARE(log, expected);
    QCOMPARE(outcome.Succeeded() ? QString() : DescribeFailure(QStringLiteral("sh"), outcome), error);
}

void TestRunAndWait::floodOfOutputLetsEventsThrough() {
    // A timer of interval 0 ticks whenever the window's events are processed.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
    timer.start(0);

    int lines = 0;
    int ticksAtFirstLine = -1;
    const TProgramOutcome outcome =
        RunAndWait(QStringLiteral("sh"), QStringLiteral("-c \"yes 0123456789 | head -n 300000\""),
                   [&](const QString& line) {
                       if (line == ProgramOutputIndent + QStringLiteral("0123456789")) {
                           ++lines;
                           if (ticksAtFirstLine < 0)
                               ticksAtFirstLine = ticks;
                       }
                   });
    QVERIFY(outcome.Succeeded());
    QCOMPARE(lines, 300000);
    QVERIFY(ticks > ticksAtFirstLine);
    QCOMPARE(outcome.LastOutputLine, QStringLiteral("0123456789"));
}

QTEST_GUILESS_MAIN(TestRunAndWait)
#include "TestRunAndWait.moc"
