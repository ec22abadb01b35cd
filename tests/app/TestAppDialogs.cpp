#include "app/AppDialogs.h"
#include "app/BackupFolderPicker.h"
#include "support/WhenShown.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The real restore prompt and folder picker, answered as a user answers them, and the next-answer
// hooks that let the window tests go past them.
class TestAppDialogs : public QObject {
    Q_OBJECT

  private slots:
    void promptOffersTheProposedName_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }
    void promptOffersTheProposedName() {
        QFETCH(bool, confirm);
        QString title, label, shown, selected;
        int maxLength = 0;
        int width = 0, titleWidth = 0;
        WhenShown<QInputDialog>([&](QInputDialog* prompt) {
            title = prompt->windowTitle();
            width = prompt->width();
            titleWidth = prompt->fontMetrics().horizontalAdvance(title);
            label = prompt->labelText();
            shown = prompt->textValue();
            auto* field = prompt->findChild<QLineEdit*>();
            selected = field->selectedText();
            maxLength = field->maxLength();
            field->setText(QStringLiteral("other_name"));
            confirm ? prompt->accept() : prompt->reject();
        });
        const std::optional<QString> answer = PromptDatabaseName(nullptr, QStringLiteral("salesoffice"));
        QCOMPARE(title, QStringLiteral("Restore backup"));
        QCOMPARE(label, QStringLiteral("Database"));
        QCOMPARE(shown, QStringLiteral("salesoffice"));
        QCOMPARE(selected, QStringLiteral("salesoffice"));
        QCOMPARE(maxLength, 255);
        // Room for the title in a window manager's larger, bold font, beside its buttons.
        QVERIFY2(width >= 2 * titleWidth + 100, qPrintable(QStringLiteral("%1 px").arg(width)));
        QCOMPARE(answer, confirm ? std::optional(QStringLiteral("other_name")) : std::nullopt);
    }

    // The picker shows a caption above a folder tree and nothing to type into or to make folders with;
    // it opens at the current folder when that exists, else at the desktop (or home) folder.
    void pickerOpensAtTheCurrentFolder_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<bool>("confirm");
        QTest::newRow("existing folder, chosen") << true << true;
        QTest::newRow("existing folder, cancelled") << true << false;
        QTest::newRow("missing folder, chosen") << false << true;
    }
    void pickerOpensAtTheCurrentFolder() {
        QFETCH(bool, folderExists);
        QFETCH(bool, confirm);
        QDir().mkpath(QDir::homePath());
        QTemporaryDir current;
        const QString offered = folderExists ? current.path() : current.filePath(QStringLiteral("missing"));
        QString caption, selected;
        int fields = -1, buttons = -1;
        WhenShown<TBackupFolderPicker>([&](TBackupFolderPicker* picker) {
            caption = picker->findChild<QLabel*>(QStringLiteral("Caption"))->text();
            fields = int(picker->findChildren<QLineEdit*>().size());
            buttons = int(picker->findChildren<QPushButton*>().size());
            selected = picker->SelectedFolder();
            confirm ? picker->accept() : picker->reject();
        });
        const std::optional<QString> folder = PickBackupFolder(nullptr, offered);
        QCOMPARE(caption, QStringLiteral("Backup directory"));
        QCOMPARE(fields, 0);
        QCOMPARE(buttons, 2);
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        const QString fallback = QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
        QCOMPARE(selected, QDir::toNativeSeparators(folderExists ? current.path() : fallback));
        QCOMPARE(folder, confirm ? std::optional(selected) : std::nullopt);
    }

    // After pg_restore ignored errors: the count, the database and pg_restore's messages in the
    // question, Discard as the default and the Escape answer, Keep only when chosen.
    void keepQuestionDefaultsToDiscard_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("kept");
        QTest::newRow("Keep") << QStringLiteral("Keep") << true;
        QTest::newRow("Discard") << QStringLiteral("Discard") << false;
        QTest::newRow("Enter") << QStringLiteral("Enter") << false;
        QTest::newRow("Escape") << QStringLiteral("Escape") << false;
    }
    void keepQuestionDefaultsToDiscard() {
        QFETCH(QString, answer);
        QFETCH(bool, kept);
        const QStringList messages{QStringLiteral("pg_restore: error: role \"ghost\" does not exist"),
                                   QStringLiteral("pg_restore: warning: errors ignored on restore: 3")};
        QString text, shown;
        WhenShown<QDialog>([&](QDialog* question) {
            text = question->findChild<QLabel*>(QStringLiteral("Question"))->text();
            shown = question->findChild<QPlainTextEdit*>(QStringLiteral("Messages"))->toPlainText();
            if (answer == u"Enter" || answer == u"Escape") {
                QTest::keyClick(question, answer == u"Enter" ? Qt::Key_Return : Qt::Key_Escape);
                return;
            }
            for (QPushButton* button : question->findChildren<QPushButton*>()) {
                if (button->text() == answer)
                    button->click();
            }
        });
        QCOMPARE(AskKeepRestoredDatabase(nullptr, QStringLiteral("salesoffice"), 3, messages), kept);
        QVERIFY2(text.contains(QStringLiteral("ignored 3 error(s)")) &&
                     text.contains(QStringLiteral("\"salesoffice\"")),
                 qPrintable(text));
        QCOMPARE(shown, messages.join(u'\n'));
    }

    void nextAnswersStandInForOneDialogEach() {
        SetNextDatabaseNameAnswer([](const QString& proposed) -> std::optional<QString> {
            return proposed + QStringLiteral("_copy");
        });
        QCOMPARE(PromptDatabaseName(nullptr, QStringLiteral("db")), std::optional(QStringLiteral("db_copy")));
        SetNextBackupFolderAnswer(
            [](const QString& current) -> std::optional<QString> { return current + QStringLiteral("/x"); });
        QCOMPARE(PickBackupFolder(nullptr, QStringLiteral("/srv")), std::optional(QStringLiteral("/srv/x")));

        // Each answer is used once: the next calls show the dialogs again.
        WhenShown<QInputDialog>([](QInputDialog* prompt) { prompt->reject(); });
        QCOMPARE(PromptDatabaseName(nullptr, QStringLiteral("db")), std::nullopt);
        WhenShown<TBackupFolderPicker>([](TBackupFolderPicker* picker) { picker->reject(); });
        QCOMPARE(PickBackupFolder(nullptr, QStringLiteral("/srv")), std::nullopt);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestAppDialogs)
#include "TestAppDialogs.moc"
