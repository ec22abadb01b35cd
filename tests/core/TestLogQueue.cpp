#include "core/LogQueue.h"

#include <QTest>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

namespace {

QString Line(qint64 number) {
    return QStringLiteral("line %1").arg(number);
}

QStringList Lines(qint64 first, qint64 last) {
    QStringList lines;
    for (qint64 number = first; number <= last; ++number)
        lines.append(Line(number));
    return lines;
}

void PushLines(TLogQueue& queue, qint64 first, qint64 last) {
    for (qint64 number = first; number <= last; ++number)
        queue.Push(Line(number));
}

// The count of a "… 1,234 lines not shown" line, or -1 for any other line.
qint64 NotShownCount(const QString& line) {
    static const QString mark = QStringLiteral("\u2026 ");
    if (!line.startsWith(mark) || !line.contains(QStringLiteral(" not shown")))
        return -1;
    return line.mid(mark.size()).section(u' ', 0, 0).remove(u',').toLongLong();
}

} // namespace

class TestLogQueue : public QObject {
    Q_OBJECT

  private slots:
    void keepsHeadAndTail_data();
    void keepsHeadAndTail();
    void startsAfreshAfterATake();
    void takesWhileThreadsPush_data();
    void takesWhileThreadsPush();
};

void TestLogQueue::keepsHeadAndTail_data() {
    QTest::addColumn<qsizetype>("headLines");
    QTest::addColumn<qsizetype>("tailLines");
    QTest::addColumn<qint64>("pushed");
    QTest::addColumn<QStringList>("batch");

    // Three tail lines, so that the ring's oldest line is rarely in its first slot.
    QTest::newRow("nothing pushed") << qsizetype(2) << qsizetype(3) << qint64(0) << QStringList();
    QTest::newRow("under the bound") << qsizetype(2) << qsizetype(3) << qint64(4) << Lines(1, 4);
    QTest::newRow("exactly at the bound") << qsizetype(2) << qsizetype(3) << qint64(5) << Lines(1, 5);
    QTest::newRow("one over") << qsizetype(2) << qsizetype(3) << qint64(6)
                              << Lines(1, 2) + QStringList{"\u2026 1 line not shown"} + Lines(4, 6);
    QTest::newRow("far over") << qsizetype(2) << qsizetype(3) << qint64(1'000'005)
                              << Lines(1, 2) + QStringList{"\u2026 1,000,000 lines not shown"} +
                                     Lines(1'000'003, 1'000'005);
    QTest::newRow("tail only") << qsizetype(0) << qsizetype(3) << qint64(5)
                               << QStringList{"\u2026 2 lines not shown"} + Lines(3, 5);
    QTest::newRow("head only") << qsizetype(2) << qsizetype(0) << qint64(5)
                               << Lines(1, 2) + QStringList{"\u2026 3 lines not shown"};
}

void TestLogQueue::keepsHeadAndTail() {
    QFETCH(qsizetype, headLines);
    QFETCH(qsizetype, tailLines);
    QFETCH(qint64, pushed);
    QFETCH(QStringList, batch);
    TLogQueue queue(headLines, tailLines);
    PushLines(queue, 1, pushed);
    QCOMPARE(queue.TakeBatch(), batch);
}

void TestLogQueue::startsAfreshAfterATake() {
    TLogQueue queue(2, 3);
    PushLines(queue, 1, 10);
    QCOMPARE(queue.TakeBatch().size(), qsizetype(6));
    QCOMPARE(queue.TakeBatch(), QStringList());
    // A new head, a new count and a ring that starts again at its first slot.
    PushLines(queue, 11, 17);
    QCOMPARE(queue.TakeBatch(), Lines(11, 12) + QStringList{"\u2026 2 lines not shown"} + Lines(15, 17));
    QCOMPARE(queue.TakeBatch(), QStringList());
}

void TestLogQueue::takesWhileThreadsPush_data() {
    QTest::addColumn<qsizetype>("headLines");
    QTest::addColumn<qsizetype>("tailLines");

    // Four writers of 20,000 lines each.
    QTest::newRow("below the bound") << qsizetype(80'000) << qsizetype(0);
    QTest::newRow("far over the bound") << qsizetype(50) << qsizetype(50);
}

void TestLogQueue::takesWhileThreadsPush() {
    QFETCH(qsizetype, headLines);
    QFETCH(qsizetype, tailLines);
    constexpr int Writers = 4;
    constexpr int LinesEach = 20'000;
    TLogQueue queue(headLines, tailLines);

    // The Writers start together; this thread takes batches until they are done, then once more, a
    // millisecond apart (the window takes one every 50 ms): a thread that only takes could keep the lock
    // from the writers where the system's mutex is not fair.
    std::latch start(Writers);
    std::atomic<int> writing = Writers;
    std::vector<std::jthread> threads;
    for (int writer = 0; writer < Writers; ++writer)
        threads.emplace_back([&, writer] {
            start.arrive_and_wait();
            for (int number = 0; number < LinesEach; ++number)
                queue.Push(QStringLiteral("%1 %2").arg(writer).arg(number));
            --writing;
        });
    QStringList taken;
    while (writing > 0) {
        taken += queue.TakeBatch();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::jthread& thread : threads)
        thread.join();
    taken += queue.TakeBatch();

    // Each writer's lines come in the order it pushed them, none twice; the rest are counted.
    std::vector<int> next(Writers, 0);
    qint64 shown = 0;
    qint64 counted = 0;
    for (const QString& line : taken) {
        if (const qint64 count = NotShownCount(line); count >= 0) {
            QVERIFY2(count > 0, qPrintable(line));
            counted += count;
            continue;
        }
        const int writer = line.section(u' ', 0, 0).toInt();
        const int number = line.section(u' ', 1, 1).toInt();
        QVERIFY2(number >= next[writer], qPrintable(line));
        next[writer] = number + 1;
        ++shown;
    }
    QCOMPARE(shown + counted, qint64(Writers) * LinesEach);
    if (headLines >= Writers * LinesEach)
        QCOMPARE(counted, qint64(0));
}

QTEST_GUILESS_MAIN(TestLogQueue)
#include "TestLogQueue.moc"
