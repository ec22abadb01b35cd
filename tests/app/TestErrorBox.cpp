#include "app/ErrorBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

class TestErrorBox : public QObject {
    Q_OBJECT

  private slots:
    void fullStopAppended_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringLiteral("Incorrect username or password")
                               << QStringLiteral("Incorrect username or password.");
        QTest::newRow("full stop") << QStringLiteral("Done.") << QStringLiteral("Done.");
        QTest::newRow("lower code: blank") << QStringLiteral("trailing ") << QStringLiteral("trailing ");
        QTest::newRow("lower code: !") << QStringLiteral("Stop!") << QStringLiteral("Stop!");
        QTest::newRow("lower code: -") << QStringLiteral("a-") << QStringLiteral("a-");
        QTest::newRow("higher code: /") << QStringLiteral("a/") << QStringLiteral("a/.");
        QTest::newRow("higher code: ?") << QStringLiteral("Why?") << QStringLiteral("Why?.");
        QTest::newRow("lower code: quote") << QStringLiteral("Invalid data type for 'Bucket'")
                                           << QStringLiteral("Invalid data type for 'Bucket'");
        QTest::newRow("beyond ASCII") << QStringLiteral("Größe") << QStringLiteral("Größe.");
        QTest::newRow("empty") << QString() << QString();
    }

    void fullStopAppended() {
        QFETCH(QString, message);
        QFETCH(QString, text);
        QCOMPARE(ErrorBoxText(message), text);
    }

    void showsTheStandardBox() {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->buttons();
            QCOMPARE(box->standardButton(buttons.value(0)), QMessageBox::Ok);
            buttons.value(0)->click();
        });
        ShowErrorBox(nullptr, QStringLiteral("Incorrect username or password"));
        QCOMPARE(title, QStringLiteral("Corvane"));
        QCOMPARE(text, QStringLiteral("Incorrect username or password."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons.size(), 1);
    }

    void handlerReceivesTheTextInstead() {
        QStringList shown;
        SetErrorBoxHandler([&](const QString& text) { shown.append(text); });
        ShowErrorBox(nullptr, QStringLiteral("Invalid bucket configuration"));
        SetErrorBoxHandler({});
        QCOMPARE(shown, QStringList{QStringLiteral("Invalid bucket configuration.")});
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestErrorBox)
#include "TestErrorBox.moc"
