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
    void gathersBlocksIntoLargeWrites();
    void md5WithoutHashingReadsTheFile();
    void rangesWrittenAtTheirOffsets_data();
    void rangesWrittenAtTheirOffsets();
    void truncatesAnExistingFile();
    void secondStreamOnTheSameFileIsRefused();
    void createFailures_data();
    void createFailures();

  private:
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestDownloadStream::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestDownloadStream::writesReportTheBlocks() {
    const QString path = FDir->filePath(QStringLiteral("a.backup"));
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

// Blocks reach the file once GatherSize bytes are gathered, each reported as it arrives; what is left
// reaches it before the stream cuts or moves the file, and when the stream goes.
void TestDownloadStream::gathersBlocksIntoLargeWrites() {
    const QString path = FDir->filePath(QStringLiteral("a.backup"));
    const qint64 blockSize = 16 * 1024;
    const qint64 blocksPerWrite = TS3DownloadStream::GatherSize / blockSize;
    QByteArray content;
    for (qint64 i = 0; i < 2 * blocksPerWrite + 3; ++i)
        content.append(QByteArray(blockSize, char('a' + i % 26)));
    QList<qint64> reported;
    {
        TS3DownloadStream stream(path);
        stream.OnProgress = [&](qint64 count) { reported << count; };
        for (qint64 i = 0; i < blocksPerWrite - 1; ++i)
            QCOMPARE(stream.Write(std::span(content.constData(), content.size()), i * blockSize, blockSize),
                     blockSize);
        QCOMPARE(ReadAll(path), QByteArray());
        QCOMPARE(stream.Position(), (blocksPerWrite - 1) * blockSize);
        QCOMPARE(stream.Size(), (blocksPerWrite - 1) * blockSize);
        for (qint64 i = blocksPerWrite - 1; i < 2 * blocksPerWrite + 3; ++i)
            QCOMPARE(stream.Write(std::span(content.constData(), content.size()), i * blockSize, blockSize),
                     blockSize);
        QCOMPARE(ReadAll(path), content.first(2 * TS3DownloadStream::GatherSize));
        QCOMPARE(stream.Size(), content.size());
        QCOMPARE(stream.Md5(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
        QCOMPARE(ReadAll(path), content);

        // A restart cuts back what was gathered too.
        QCOMPARE(stream.Write(std::span(content.constData(), content.size()), 0, 10), 10);
        stream.SetSize(0);
        stream.SetPosition(0);
        QCOMPARE(stream.Write(std::span(content.constData(), content.size()), 5, 3), 3);
        QCOMPARE(stream.Size(), 3);
        QCOMPARE(ReadAll(path), QByteArray());
    }
    QCOMPARE(reported.size(), 2 * blocksPerWrite + 5);
    QCOMPARE(ReadAll(path), content.mid(5, 3));
}

void TestDownloadStream::md5WithoutHashingReadsTheFile() {
    TS3DownloadStream stream(FDir->filePath(QStringLiteral("a.backup")));
    stream.SetHashing(false);
    const QByteArray content = "some backup";
    QCOMPARE(stream.Write(std::span(content.constData(), content.size()), 0, content.size()), content.size());
    QCOMPARE(stream.Md5(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
}

using TRanges = QList<QPair<qint64, qint64>>; // offset, length

void TestDownloadStream::rangesWrittenAtTheirOffsets_data() {
    QTest::addColumn<TRanges>("ranges");

    const qint64 mib = 1024 * 1024;
    QTest::newRow("in order") << TRanges{{0, 3 * mib}, {3 * mib, 5}};
    QTest::newRow("last range first") << TRanges{{2 * mib + 7, mib}, {mib, mib + 7}, {0, mib}};
    QTest::newRow("gap filled last") << TRanges{{0, 10}, {20, 3 * mib}, {10, 10}};
    QTest::newRow("a range written twice") << TRanges{{0, mib}, {mib, mib}, {mib / 2, mib}};
}

// Ranges fetched side by side reach the file at their offsets, and the MD5 is that of the whole file
// whatever the order they came in.
void TestDownloadStream::rangesWrittenAtTheirOffsets() {
    QFETCH(TRanges, ranges);
    qint64 size = 0;
    for (const auto& [offset, length] : ranges)
        size = std::max(size, offset + length);
    QByteArray content(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        content[i] = char(i * 7 % 251);

    const QString path = FDir->filePath(QStringLiteral("a.backup"));
    TS3DownloadStream stream(path);
    for (const auto& [offset, length] : ranges)
        stream.WriteAt(offset, content.constData() + offset, length);
    QCOMPARE(stream.Size(), size);
    QCOMPARE(stream.Md5(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
    QCOMPARE(ReadAll(path), content);
}

void TestDownloadStream::truncatesAnExistingFile() {
    const QString path = FDir->filePath(QStringLiteral("a.backup"));
    QVERIFY(WriteFile(path, "an older download"));
    {
        TS3DownloadStream stream(path);
        QCOMPARE(stream.Size(), 0);
    }
    QCOMPARE(ReadAll(path), QByteArray());
}

void TestDownloadStream::secondStreamOnTheSameFileIsRefused() {
    const QString path = FDir->filePath(QStringLiteral("a.backup"));
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
    const QString path = relativePath.isEmpty() ? FDir->path() : FDir->filePath(relativePath);
    QCOMPARE(ErrorOf([&] { TS3DownloadStream stream(path); }),
             QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemMessage));
}

QTEST_GUILESS_MAIN(TestDownloadStream)
#include "TestDownloadStream.moc"
