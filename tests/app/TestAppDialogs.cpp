#include "app/AppDialogs.h"
#include "support/WhenShown.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
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
        WhenShown<QInputDialog>([&](QInputDialog* prompt) {
            title = prompt->windowTitle();
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
        QCOMPARE(answer, confirm ? std::optional(QStringLiteral("other_name")) : std::nullopt);
    }

    void pickerAsksForAFolder_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void pickerAsksForAFolder() {
        QFETCH(bool, confirm);
        QTemporaryDir chosen;
        QString title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        WhenShown<QFileDialog>([&](QFileDialog* picker) {
            title = picker->windowTitle();
            mode = picker->fileMode();
            picker->setDirectory(chosen.path());
            confirm ? QMetaObject::invokeMethod(picker, "accept")
                    : QMetaObject::invokeMethod(picker, "reject");
        });
        const std::optional<QString> folder = PickBackupFolder(nullptr);
        QCOMPARE(title, QStringLiteral("Backup directory"));
        QCOMPARE(mode, QFileDialog::Directory);
        QCOMPARE(folder, confirm ? std::optional(chosen.path()) : std::nullopt);
    }

    void nextAnswersStandInForOneDialogEach() {
        SetNextDatabaseNameAnswer([](const QString& proposed) -> std::optional<QString> {
            return proposed + QStringLiteral("_copy");
        });
        QCOMPARE(PromptDatabaseName(nullptr, QStringLiteral("db")), std::optional(QStringLiteral("db_copy")));
        SetNextBackupFolder(QStringLiteral("/srv/backups"));
        QCOMPARE(PickBackupFolder(nullptr), std::optional(QStringLiteral("/srv/backups")));
        SetNextBackupFolder(std::nullopt);
        QCOMPARE(PickBackupFolder(nullptr), std::nullopt);

        // Each answer is used once: the next calls show the dialogs again.
        WhenShown<QInputDialog>([](QInputDialog* prompt) { prompt->reject(); });
        QCOMPARE(PromptDatabaseName(nullptr, QStringLiteral("db")), std::nullopt);
        WhenShown<QFileDialog>([](QFileDialog* picker) { QMetaObject::invokeMethod(picker, "reject"); });
        QCOMPARE(PickBackupFolder(nullptr), std::nullopt);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestAppDialogs)
#include "TestAppDialogs.moc"
