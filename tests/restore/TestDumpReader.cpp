#include "restore/DumpReader.h"
#include "support/ErrorOf.h"
#include "support/FileContents.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

namespace {

// One gzip member holding the bytes, as gzip writes it.
QByteArray Gzip(const QByteArray& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// SQL-like text that compresses well but not to nothing, over several of the reader's blocks.
QByteArray Sample(int rows, int from = 0) {
    QByteArray text;
    for (int i = from; i < from + rows; ++i)
        text += "INSERT INTO orders VALUES (" + QByteArray::number(i) + ", " +
                QByteArray::number(i * 7919 % 10007) + ");\n";
    return text;
}

} // namespace

// The reader hands out a file's content, gunzipped when it is gzip, and tells how far into the file it is.
class TestDumpReader : public QObject {
    Q_OBJECT

  private slots:
    void reads_data();
    void reads();
    void missingFile();
};

void TestDumpReader::reads_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("gzipped");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    const QByteArray first = Sample(40000);
    const QByteArray second = Sample(30000, 40000);
    const QByteArray whole = Gzip(first);
    QByteArray damaged = whole;
    damaged[whole.size() / 2] = char(~damaged[whole.size() / 2]);

    QTest::newRow("plain file as it is") << first << false << first << "";
    QTest::newRow("empty file") << QByteArray() << false << QByteArray() << "";
    QTest::newRow("gzip") << whole << true << first << "";
    QTest::newRow("gzip of two members") << whole + Gzip(second) << true << first + second << "";
    QTest::newRow("gzip of nothing") << Gzip({}) << true << QByteArray() << "";
    QTest::newRow("gzip cut short") << whole.chopped(200) << true << QByteArray()
                                    << "It ends inside its gzip data, so it is incomplete";
    QTest::newRow("gzip damaged") << damaged << true << QByteArray() << "Its gzip data is damaged at byte ";
    QTest::newRow("gzip followed by other bytes")
        << whole + "trailing text\n"
        << true << QByteArray() << "Its gzip data is damaged at byte ";
}

void TestDumpReader::reads() {
    QFETCH(QByteArray, file);
    QFETCH(bool, gzipped);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sales.sql.gz"));
    QVERIFY(WriteFile(path, file));

    TDumpReader reader(path);
    QCOMPARE(reader.Gzipped(), gzipped);
    QCOMPARE(reader.FileSize(), file.size());
    QByteArray read;
    qint64 consumed = 0;
    bool backwards = false;
    const QString message = ErrorOf([&] {
        // Blocks smaller than zlib's output, so that a block ends inside a member and between members.
        for (QByteArray block = reader.Read(10000); !block.isEmpty(); block = reader.Read(10000)) {
            read += block;
            backwards = backwards || reader.Consumed() < consumed;
            consumed = reader.Consumed();
        }
    });
    QVERIFY(!backwards);
    if (!error.isEmpty()) {
        const QString expected = QStringLiteral("Cannot read file \"%1\". %2").arg(path, error);
        QVERIFY2(message.startsWith(expected), qPrintable(message));
        return;
    }
    QCOMPARE(message, QString());
    QCOMPARE(read, content);
    QCOMPARE(reader.Consumed(), file.size());
    QVERIFY(reader.Read().isEmpty());
}

void TestDumpReader::missingFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.sql"));
    QFile probe(path);
    QVERIFY(!probe.open(QIODevice::ReadOnly));
    QCOMPARE(ErrorOf([&] { TDumpReader reader(path); }),
             QStringLiteral("Cannot read file \"%1\". %2").arg(path, probe.errorString()));
}

QTEST_GUILESS_MAIN(TestDumpReader)
#include "TestDumpReader.moc"
