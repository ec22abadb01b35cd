#include "core/Error.h"

#include <QTest>

#include <cerrno>

class TestError : public QObject {
    Q_OBJECT

  private slots:
    void carriesTheMessageUnchanged();
    void readsTheMessageOfAnyException();
    void wordsSystemErrors();
};

void TestError::carriesTheMessageUnchanged() {
    // Text beyond Latin-1 (and a character outside the BMP) comes back as it went in, through Message()
    // and through what() as UTF-8.
    const QString message = QStringLiteral("Cannot create file \"Привет €𝄞.backup\"");
    try {
        throw TError(message);
    } catch (const std::runtime_error& error) {
        QCOMPARE(QString::fromUtf8(error.what()), message);
        QCOMPARE(MessageOf(error), message);
        QCOMPARE(dynamic_cast<const TError&>(error).Message(), message);
    }
}

void TestError::readsTheMessageOfAnyException() {
    QCOMPARE(MessageOf(std::runtime_error("Stream write error \xE2\x82\xAC")),
             QStringLiteral("Stream write error €"));
}

void TestError::wordsSystemErrors() {
    // The tests run in the C.UTF-8 locale, which words errors as the C library does.
    QCOMPARE(SystemErrorText(ENOENT), QStringLiteral("No such file or directory"));
    QCOMPARE(SystemErrorText(EACCES), QStringLiteral("Permission denied"));
}

QTEST_GUILESS_MAIN(TestError)
#include "TestError.moc"
