#include "core/Error.h"
#include "restore/RunAndWait.h"
#include "support/ErrorOf.h"
#include "support/MemoryFigures.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <QTimer>

namespace {

// Input of a given size (or endless, for -1) in blocks of a given size; every byte tells its offset, so
// a block lost, doubled or out of order changes the digest of the whole.
class TGeneratedInput {
  public:
    TGeneratedInput(qint64 total, qsizetype block)
        : FTotal(total)
        , FBlock(block) {}

    QByteArray operator()() {
        const qint64 size = FTotal < 0 ? FBlock : qMin<qint64>(FBlock, FTotal - FGiven);
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((FGiven + i) % 251);
        FGiven += size;
        return bytes;
    }
    qint64 Given() const { return FGiven; }

  private:
    qint64 FTotal;
    qsizetype FBlock;
    qint64 FGiven = 0;
};

QString Md5Line(qint64 total, qsizetype block) {
    TGeneratedInput input(total, block);
    QCryptographicHash md5(QCryptographicHash::Md5);
    for (QByteArray bytes = input(); !bytes.isEmpty(); bytes = input())
        md5.addData(bytes);
    return QString::fromLatin1(md5.result().toHex()) + QStringLiteral("  -");
}

// This process's resident memory in KiB, from /proc.
qint64 ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Ignores the polite request to end and reads its input to the end: only a kill ends it early, and the
// line shows that it saw its input end.
const QString ReadsToTheEnd = QStringLiteral("-c \"trap '' TERM; cat >/dev/null; echo input ended\"");
const QString InputEnded = ProgramOutputIndent + QStringLiteral("input ended");

} // namespace

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
    void input_data();
    void input();
    void largeInputInFlatMemory();
    void stopWhileFeeding();
    void failingInputEndsTheProgram();
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

void TestRunAndWait::input_data() {
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");

    const qint64 total = 3 * 1024 * 1024 + 17;
    QTest::newRow("fed whole") << "-c md5sum" << total << 0 << Md5Line(total, 65537);
    QTest::newRow("empty") << "-c \"wc -c\"" << qint64(0) << 0 << "0";
    QTest::newRow("reads a part and ends") << "-c \"head -c 1000 | wc -c\"" << qint64(-1) << 0 << "1000";
    QTest::newRow("ends without reading") << "-c \"exit 4\"" << qint64(-1) << 4 << "";
}

void TestRunAndWait::input() {
    QFETCH(QString, parameters);
    QFETCH(qint64, total);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);

    TProgramWatch watch;
    watch.Input = TGeneratedInput(total, 65537);
    const TProgramOutcome outcome = RunAndWait(
        QStringLiteral("sh"), parameters, [](const QString&) {}, watch);
    QVERIFY(outcome.Started);
    QCOMPARE(outcome.ExitCode, exitCode);
    QCOMPARE(outcome.LastOutputLine, lastLine);
}

void TestRunAndWait::largeInputInFlatMemory() {
    const qint64 total = 64 * 1024 * 1024;
    const qint64 before = ResidentKiB();
    QVERIFY(before > 0);
    qint64 peak = before;
    TGeneratedInput generated(total, 256 * 1024);
    TProgramWatch watch;
    watch.Input = [&] {
        peak = qMax(peak, ResidentKiB());
        return generated();
    };
    const TProgramOutcome outcome = RunAndWait(
        QStringLiteral("wc"), QStringLiteral("-c"), [](const QString&) {}, watch);
    QVERIFY(outcome.Succeeded());
    QCOMPARE(outcome.LastOutputLine.trimmed(), QString::number(total));
    // Without the wait for the program to read, all 64 MiB would be held at once.
    if (MemoryFiguresHold)
        QVERIFY2(peak - before < 16 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(peak - before)));
}

void TestRunAndWait::stopWhileFeeding() {
    std::stop_source stop;
    TGeneratedInput generated(-1, 65536);
    qint64 givenAtStop = -1;
    TProgramWatch watch;
    watch.Stop = stop.get_token();
    watch.Input = [&] {
        if (generated.Given() >= 4 * 1024 * 1024 && givenAtStop < 0) {
            stop.request_stop();
            givenAtStop = generated.Given();
        }
        return generated();
    };
    QStringList log;
    const TProgramOutcome outcome = RunAndWait(
        QStringLiteral("sh"), ReadsToTheEnd, [&](const QString& line) { log << line; }, watch);
    QVERIFY(outcome.Stopped);
    // The block of the call that asked for the stop was the last: nothing was read after it, and the
    // program, killed once the grace was over, never saw its input end.
    QCOMPARE(generated.Given(), givenAtStop + 65536);
    QVERIFY(!log.contains(InputEnded));
}

void TestRunAndWait::failingInputEndsTheProgram() {
    TGeneratedInput generated(-1, 65536);
    TProgramWatch watch;
    watch.Input = [&] {
        if (generated.Given() >= 1024 * 1024)
            throw TError(QStringLiteral("Cannot read file \"sales.sql.gz\". It is damaged"));
        return generated();
    };
    QStringList log;
    const QString error = ErrorOf([&] {
        RunAndWait(
            QStringLiteral("sh"), ReadsToTheEnd, [&](const QString& line) { log << line; }, watch);
    });
    QCOMPARE(error, QStringLiteral("Cannot read file \"sales.sql.gz\". It is damaged"));
    QVERIFY(!log.contains(InputEnded));
}

QTEST_GUILESS_MAIN(TestRunAndWait)
#include "TestRunAndWait.moc"
