#include "app/OperationProgress.h"

#include <QLocale>
#include <QtTest>

#include <chrono>

using namespace std::chrono_literals;

// The progress bar's text and position, as the window shows them while an operation runs.
class TestOperationProgress : public QObject {
    Q_OBJECT

    static constexpr qint64 MiB = 1024 * 1024;

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void transferText_data() {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("under way") << 431 * MiB << 1024 * MiB << 4490
                                   << "42 % · 431 of 1,024 MiB · 95 MiB/s · 7 s left";
        QTest::newRow("just started: no speed yet") << 2 * MiB << 1024 * MiB << 100 << "0 % · 2 of 1,024 MiB";
        QTest::newRow("nothing yet") << qint64(0) << 1024 * MiB << 3000 << "0 % · 0 of 1,024 MiB";
        QTest::newRow("slow: KiB/s and minutes")
            << 300 * 1024LL << 10 * MiB << 10000 << "2 % · 0 of 10 MiB · 30 KiB/s · 5 min 32 s left";
        QTest::newRow("hours left") << 1 * MiB << 4096 * MiB << 1000
                                    << "0 % · 1 of 4,096 MiB · 1 MiB/s · 1 h 8 min left";
        QTest::newRow("done: no time left") << 3 * MiB << 3 * MiB << 1000 << "100 % · 3 of 3 MiB · 3 MiB/s";
        QTest::newRow("size unknown") << 5 * MiB << qint64(0) << 1000 << "0 % · 5 of 0 MiB · 5 MiB/s";
    }
    void transferText() {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(int, elapsedMs);
        QFETCH(QString, text);
        QCOMPARE(TransferProgressText(done, total, std::chrono::milliseconds(elapsedMs)), text);
    }

    void itemsTextAndPosition_data() {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("permille");
        QTest::newRow("none yet") << qint64(0) << qint64(50) << "0 % · 0 of 50 items" << 0;
        QTest::newRow("under way") << qint64(21) << qint64(50) << "42 % · 21 of 50 items" << 420;
        QTest::newRow("more than counted")
            << qint64(1234) << qint64(1000) << "100 % · 1,234 of 1,000 items" << 1000;
        QTest::newRow("nothing to count") << qint64(3) << qint64(0) << "0 % · 3 of 0 items" << 0;
    }
    void itemsTextAndPosition() {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        QFETCH(int, permille);
        QCOMPARE(ItemsProgressText(done, total), text);
        QCOMPARE(ProgressPermille(done, total), permille);
    }
};

QTEST_GUILESS_MAIN(TestOperationProgress)
#include "TestOperationProgress.moc"
