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
    } catch (const std::runtime_error& e) {
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

QTEST_GUILESS_MAIN(TestRunAndWait)
#include "TestRunAndWait.moc"
