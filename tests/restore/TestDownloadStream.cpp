#include "restore/DownloadStream.h"
#include "support/ErrorOf.h"
#include "support/FileContents.h"

#include <QTemporaryDir>
#include <QTest>

class TestDownloadStream : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void writesReportTheBlocks();
    void truncatesAnExistingFile();
    void secondStreamOnTheSameFileIsRefused();
    void createFailures_data();
    void createFailures();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestDownloadStream::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestDownloadStream::writesReportTheBlocks() {
    const QString path = dir_->filePath(QStringLiteral("a.backup"));
    QList<qint64> reported;
    {
        TS3DownloadStream stream(path);
        stream.OnProgress = [&](qint64 count) { reported << count; };
        const QByteArray block = "0123456789";
        QCOMPARE(stream.Write(std::span(block.constData(), block.size()), 0, 4), 4);
        QCOMPARE(stream.Write(std::span(block.constData(), block.size()), 4, 6), 6);
        QCOMPARE(stream.Write("xy", 2), 2); // the untyped write reports nothing
        QCOMPARE(stream.Write(std::span(block.constData(), block.size()), 8, 3), -1); // past the buffer
        QCOMPARE(stream.Size(), 12);
        QCOMPARE(stream.Position(), 12);

        // The transport cuts the stream back when it follows a redirect.
        stream.SetSize(4);
        stream.SetPosition(4);
        QCOMPARE(stream.Write(std::span(block.constData(), block.size()), 0, 2), 2);
        QCOMPARE(stream.FileName(), path);
    }
    QCOMPARE(reported, (QList<qint64>{4, 6, 3, 2}));
    QCOMPARE(ReadAll(path), QByteArray("012301"));
}

void TestDownloadStream::truncatesAnExistingFile() {
    const QString path = dir_->filePath(QStringLiteral("a.backup"));
    QVERIFY(WriteFile(path, "an older download"));
    {
        TS3DownloadStream stream(path);
        QCOMPARE(stream.Size(), 0);
    }
    QCOMPARE(ReadAll(path), QByteArray());
}

void TestDownloadStream::secondStreamOnTheSameFileIsRefused() {
    const QString path = dir_->filePath(QStringLiteral("a.backup"));
    TS3DownloadStream first(path);
    QCOMPARE(first.Write("running", 7), 7);

    const QString error = ErrorOf([&] { TS3DownloadStream stream(path); });
    QVERIFY2(error.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)), qPrintable(error));
    QVERIFY2(error.size() > QStringLiteral("Cannot create file \"%1\". ").arg(path).size(),
             "no system message");
    // The refused stream must not have cut the running download's file.
    QCOMPARE(ReadAll(path), QByteArray("running"));
}

void TestDownloadStream::createFailures_data() {
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("systemMessage");

    QTest::newRow("missing folder") << "missing/a.backup"
                                    << "No such file or directory";
    QTest::newRow("path is a folder") << ""
                                      << "Is a directory";
}

void TestDownloadStream::createFailures() {
    QFETCH(QString, relativePath);
    QFETCH(QString, systemMessage);
    const QString path = relativePath.isEmpty() ? dir_->path() : dir_->filePath(relativePath);
    QCOMPARE(ErrorOf([&] { TS3DownloadStream stream(path); }),
             QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemMessage));
}

QTEST_GUILESS_MAIN(TestDownloadStream)
#include "TestDownloadStream.moc"
