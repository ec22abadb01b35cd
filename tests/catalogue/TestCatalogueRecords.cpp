#include "catalogue/CatalogueRecords.h"
#include "catalogue/CatalogueTimestamp.h"

#include <QTest>

namespace {

const QDateTime InCatalogueZone(QDate(2023, 11, 19), QTime(22, 30), Qt::OffsetFromUTC,
                                CatalogueOffsetSeconds);

struct TRecord {
    QByteArray Name;
    QByteArray LastModified;
    qint64 Size;
    QByteArray Path;
    qint64 SizeMb;
    QDateTime Time;
};

void Append(TCatalogueRecords& records, const TRecord& record) {
    records.Append({record.Name, record.LastModified, record.Size, record.Path, record.SizeMb,
                    TRecordTime::FromDateTime(record.Time)});
}

} // namespace

Q_DECLARE_METATYPE(TRecord)

// The store derives what it can and keeps the rest: every record must come back as it went in.
class TestCatalogueRecords : public QObject {
    Q_OBJECT

  private slots:
    void keepsEveryField_data();
    void keepsEveryField();
    void keepsPathsBeyondTheKnownFolders();
    void erasesAndClears();
};

void TestCatalogueRecords::keepsEveryField_data() {
    QTest::addColumn<TRecord>("record");
    QTest::addColumn<QByteArray>("lowerName");
    const QByteArray s3Time = "2023-11-20T01:30:00.000Z";
    const qint64 mib = 1024 * 1024;
    QTest::newRow("everything derived")
        << TRecord{"a.backup", s3Time, 3 * mib + 1, "db/a.backup", 3, InCatalogueZone}
        << QByteArray("a.backup");
    QTest::newRow("capitals") << TRecord{"Sales DB", s3Time, 1, "db/Sales DB", 0, InCatalogueZone}
                              << QByteArray("sales db");
    QTest::newRow("non-ASCII, lower already")
        << TRecord{"logística", s3Time, 1, "db/logística", 0, InCatalogueZone} << QByteArray("logística");
    QTest::newRow("lower case longer in bytes")
        << TRecord{"\u023A", s3Time, 1, "db/\u023A", 0, InCatalogueZone} << QByteArray("\u2C65");
    QTest::newRow("path not the folder and the name")
        << TRecord{"x.backup", s3Time, 1, "db/olddb/x.backup", 0, InCatalogueZone} << QByteArray("x.backup");
    QTest::newRow("time text in another form")
        << TRecord{"a", "2023-11-20T01:30:00Z", 1, "a", 0, InCatalogueZone} << QByteArray("a");
    QTest::newRow("size in MiB of its own")
        << TRecord{"a", s3Time, 5, "db/a", 7, InCatalogueZone} << QByteArray("a");
    QTest::newRow("other offset")
        << TRecord{"a", "", 1, "", 0, QDateTime(QDate(2023, 11, 20), QTime(2, 30), Qt::OffsetFromUTC, 3600)}
        << QByteArray("a");
    QTest::newRow("UTC") << TRecord{"a",    s3Time, 1,
                                    "db/a", 0,      QDateTime(QDate(2023, 11, 20), QTime(1, 30), Qt::UTC)}
                         << QByteArray("a");
    QTest::newRow("local time") << TRecord{"a",    "x", 1,
                                           "db/a", 0,   QDateTime(QDate(2023, 11, 20), QTime(1, 30))}
                                << QByteArray("a");
    QTest::newRow("no time") << TRecord{"", "", 0, "", 0, {}} << QByteArray();
    QTest::newRow("widest fields")
        << TRecord{QByteArray(255, 'N'), QByteArray(255, 't'), -1, QByteArray(2048, 'p'), -9, InCatalogueZone}
        << QByteArray(255, 'n');
}

void TestCatalogueRecords::keepsEveryField() {
    QFETCH(TRecord, record);
    QFETCH(QByteArray, lowerName);
    TCatalogueRecords records(255, 2048);
    Append(records, {"before", "", 1, "db/before", 0, InCatalogueZone});
    Append(records, record);
    Append(records, {"after", "", 1, "elsewhere/after", 0, InCatalogueZone});

    QCOMPARE(records.Count(), 3);
    QCOMPARE(records.Name(1), record.Name);
    QCOMPARE(records.LowerName(1), lowerName);
    QCOMPARE(records.LastModified(1), record.LastModified);
    QCOMPARE(records.Size(1), record.Size);
    QCOMPARE(records.Path(1), record.Path);
    QCOMPARE(records.Size_mb(1), record.SizeMb);
    const QDateTime time = records.Time(1).ToDateTime();
    QCOMPARE(time, record.Time);
    QCOMPARE(time.timeSpec(), record.Time.timeSpec());
    QCOMPARE(time.offsetFromUtc(), record.Time.offsetFromUtc());
    QCOMPARE(records.Path(0), "db/before");
    QCOMPARE(records.Path(2), "elsewhere/after");
}

void TestCatalogueRecords::keepsPathsBeyondTheKnownFolders() {
    TCatalogueRecords records(255, 2048);
    for (int i = 0; i < 600; ++i)
        Append(records, {"x", "", 1, "folder" + QByteArray::number(i) + "/x", 0, InCatalogueZone});
    for (int i = 0; i < 600; ++i)
        QCOMPARE(records.Path(i), "folder" + QByteArray::number(i) + "/x");
}

void TestCatalogueRecords::erasesAndClears() {
    TCatalogueRecords records(255, 2048);
    // Enough records to fill several blocks of names.
    for (int i = 0; i < 20000; ++i)
        Append(records,
               {"Backup " + QByteArray::number(i), "", i, "db/Backup " + QByteArray::number(i), 0, {}});
    records.Erase(0);
    records.Erase(9999);
    QCOMPARE(records.Count(), 19998);
    QCOMPARE(records.Name(0), "Backup 1");
    QCOMPARE(records.Name(9998), "Backup 9999");
    QCOMPARE(records.LowerName(9999), "backup 10001");
    QCOMPARE(records.Path(19997), "db/Backup 19999");
    // Records lie in chunks of 1,024: erasing down to a whole number of them and appending again.
    while (records.Count() > 2048)
        records.Erase(records.Count() - 1);
    Append(records, {"Last", "", 1, "db/Last", 0, {}});
    QCOMPARE(records.Count(), 2049);
    QCOMPARE(records.Name(2047), "Backup 2048");
    QCOMPARE(records.Name(2048), "Last");
    records.Clear();
    QCOMPARE(records.Count(), 0);
    Append(records, {"a", "", 1, "db/a", 0, {}});
    QCOMPARE(records.Path(0), "db/a");
}

QTEST_GUILESS_MAIN(TestCatalogueRecords)
#include "TestCatalogueRecords.moc"
