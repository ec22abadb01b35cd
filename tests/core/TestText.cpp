#include "core/Text.h"

#include <QTest>

class TestText : public QObject {
    Q_OBJECT

  private slots:
    void findsBlankText_data();
    void findsBlankText();
    void trimsBlanks_data();
    void trimsBlanks();
    void findsAsciiDigits_data();
    void findsAsciiDigits();
    void findsContinuationBytes();
    void findsNamesWithoutRegardToCase_data();
    void findsNamesWithoutRegardToCase();
};

void TestText::findsBlankText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("blank");

    QTest::newRow("empty") << "" << true;
    QTest::newRow("spaces, tab and line ends") << " \t\r\n " << true;
    QTest::newRow("control characters") << QStringLiteral("\x01\x1f") << true;
    QTest::newRow("space itself is the last blank") << " !" << false;
    QTest::newRow("no-break space is no blank") << "\u00A0" << false;
    QTest::newRow("delete is no blank") << "\x7F" << false;
    QTest::newRow("word between blanks") << " a " << false;
}

void TestText::findsBlankText() {
    QFETCH(QString, text);
    QFETCH(bool, blank);
    QCOMPARE(IsBlankText(text), blank);
}

void TestText::trimsBlanks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");

    QTest::newRow("nothing to trim") << "a b"
                                     << "a b";
    QTest::newRow("blanks and control characters at both ends") << QStringLiteral("\x01 a b\t\x1f") << "a b";
    QTest::newRow("only blanks") << " \t "
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("wider spaces stay") << "\u3000a\u00A0"
                                       << "\u3000a\u00A0";
}

void TestText::trimsBlanks() {
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TrimmedBlanks(text).toString(), trimmed);
}

void TestText::findsAsciiDigits_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("digits");

    QTest::newRow("all ten") << "0123456789" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("letter among digits") << "12a4" << false;
    QTest::newRow("sign") << "-1" << false;
    QTest::newRow("Arabic-Indic digit") << "\u0661" << false;
    QTest::newRow("superscript two") << "\u00B2" << false;
    QTest::newRow("full-width digit") << "\uFF11" << false;
}

void TestText::findsAsciiDigits() {
    QFETCH(QString, text);
    QFETCH(bool, digits);
    QCOMPARE(IsAsciiDigits(text), digits);
    // The byte test agrees on ASCII.
    if (text.size() == 1 && text[0].unicode() < 128)
        QCOMPARE(IsAsciiDigit(char(text[0].unicode())), digits);
}

void TestText::findsContinuationBytes() {
    // "aé€𝄞": one, two, three and four bytes; only the bytes after each first byte continue it.
    const QByteArray utf8 = QStringLiteral("a\u00E9\u20AC\U0001D11E").toUtf8();
    QString marks;
    for (const char byte : utf8)
        marks += IsContinuationByte(byte) ? u'+' : u's';
    QCOMPARE(marks, QStringLiteral("ss+s++s+++"));
}

void TestText::findsNamesWithoutRegardToCase_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qsizetype>("index");

    QTest::newRow("other letter case") << "CONTENT-TYPE" << qsizetype(0);
    QTest::newRow("first of two equal names") << "content-type" << qsizetype(0);
    QTest::newRow("later name") << "X-Amz-Meta-Owner" << qsizetype(1);
    QTest::newRow("missing") << "Content-Length" << qsizetype(-1);
    QTest::newRow("empty name") << "" << qsizetype(-1);
    QTest::newRow("prefix is no match") << "Content" << qsizetype(-1);
}

void TestText::findsNamesWithoutRegardToCase() {
    QFETCH(QString, name);
    QFETCH(qsizetype, index);
    const TNameValuePairs pairs{{QStringLiteral("Content-Type"), QStringLiteral("text/plain")},
                                {QStringLiteral("x-amz-meta-owner"), QStringLiteral("sales")},
                                {QStringLiteral("content-type"), QStringLiteral("text/html")}};
    QCOMPARE(IndexOfName(pairs, name), index);
}

QTEST_GUILESS_MAIN(TestText)
#include "TestText.moc"
