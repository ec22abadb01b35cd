#include "core/Error.h"
#include "core/Platform.h"

#include "support/ErrorOf.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void createsAMissingFile();
    void cutsAnExistingFile();
    void refusesASecondOpenWithoutCuttingTheFirst();
    void readsAtAPositionWithoutMovingIt_data();
    void readsAtAPositionWithoutMovingIt();
    void removesFiles_data();
    void removesFiles();

  private:
    std::unique_ptr<QTemporaryDir> FFolder;
    QString Path(const QString& name) const { return FFolder->filePath(name); }
};

void TestPlatform::init() {
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
}

void TestPlatform::createsAMissingFile() {
    const QString path = Path(QStringLiteral("new.backup"));
    TExclusiveFile file(path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(file.Write("abc", 3), qint64(3));
    QCOMPARE(file.Position(), qint64(3));
    QCOMPARE(file.Size(), qint64(3));
}

void TestPlatform::cutsAnExistingFile() {
    const QString path = Path(QStringLiteral("old.backup"));
    WriteFile(path, QByteArray(1000, 'x'));
    TExclusiveFile file(path);
    QCOMPARE(file.Size(), qint64(0));
    QCOMPARE(file.Position(), qint64(0));
}

void TestPlatform::refusesASecondOpenWithoutCuttingTheFirst() {
    const QString path = Path(QStringLiteral("busy.backup"));
    auto first = std::make_unique<TExclusiveFile>(path);
    QCOMPARE(first->Write("first download", 14), qint64(14));

    const QString error = ErrorOf([&] { TExclusiveFile second(path); });
    QVERIFY2(error.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)), qPrintable(error));
    QVERIFY2(error.size() > QStringLiteral("Cannot create file \"%1\". ").arg(path).size(), "no system text");
    QCOMPARE(first->Size(), qint64(14));

    // Once the first is closed the file can be opened again, and is cut then.
    first.reset();
    TExclusiveFile again(path);
    QCOMPARE(again.Size(), qint64(0));
}

void TestPlatform::readsAtAPositionWithoutMovingIt_data() {
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("read");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("inside") << qint64(2) << qint64(3) << qint64(3) << QByteArray("234");
    QTest::newRow("up to the end") << qint64(7) << qint64(10) << qint64(3) << QByteArray("789");
    QTest::newRow("at the end") << qint64(10) << qint64(4) << qint64(0) << QByteArray();
    QTest::newRow("negative position") << qint64(-1) << qint64(4) << qint64(-1) << QByteArray();
}

// The download's checksum reads the file back through the handle that writes it; the writes go on
// where they were.
void TestPlatform::readsAtAPositionWithoutMovingIt() {
    QFETCH(qint64, position);
    QFETCH(qint64, count);
    QFETCH(qint64, read);
    QFETCH(QByteArray, bytes);
    TExclusiveFile file(Path(QStringLiteral("read.backup")));
    QCOMPARE(file.Write("0123456789", 10), qint64(10));
    file.SetPosition(5);
    QByteArray buffer(16, '-');
    QCOMPARE(file.ReadAt(position, buffer.data(), count), read);
    QCOMPARE(buffer.first(qMax(read, qint64(0))), bytes);
    QCOMPARE(file.Position(), qint64(5));
    QCOMPARE(file.Write("x", 1), qint64(1));
    QCOMPARE(file.Size(), qint64(10));
}

void TestPlatform::removesFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");

    QTest::newRow("file") << "file"
                          << "";
    QTest::newRow("missing file") << "missing"
                                  << "";
    QTest::newRow("folder stays") << "folder"
                                  << "Cannot delete file \"%1\". ";
}

void TestPlatform::removesFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, error);
    const QString path = Path(QStringLiteral("target"));
    if (kind == u"file")
        WriteFile(path, "data");
    else if (kind == u"folder")
        QVERIFY(QDir(FFolder->path()).mkdir(QStringLiteral("target")));

    const QString raised = ErrorOf([&] { RemoveFile(path); });
    if (error.isEmpty()) {
        QCOMPARE(raised, QString());
        QVERIFY(!QFileInfo::exists(path));
    } else {
        QVERIFY2(raised.startsWith(error.arg(path)), qPrintable(raised));
        QVERIFY(QFileInfo::exists(path));
    }
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "TestPlatform.moc"
