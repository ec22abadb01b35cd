#include "app/CorvaneForm.h"
#include "app/CorvaneLoginForm.h"
#include "catalogue/CatalogueTable.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/LogMessages.h"
#include "support/WhenShown.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QtTest>

// Start-up and shut-down of the main window against the account service and s3rver on loopback.
class TestMainWindowStartUp : public QObject {
    Q_OBJECT

  private:
    QString FBucket;

    // Shows the window and runs action in the sign-in dialog that its first tick opens; false when no
    // dialog opened.
    static bool InSignInDialog(TCorvaneEditorForm& form, const std::function<void(TLoginForm*)>& action) {
        bool opened = false;
        WhenShown<TLoginForm>([&](TLoginForm* dialog) {
            opened = true;
            action(dialog);
        });
        form.show();
        return QTest::qWaitFor([&] { return opened && !QApplication::activeModalWidget(); }, 5000);
    }

  private slots:
    void initTestCase() {
        TS3TestServer server = TS3TestServer::FromFixture();
        FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("startup"));
        server.CreateBucket(FBucket);
        server.PutObject(FBucket, QStringLiteral("db/first.backup"), QByteArray(2048, 'x'));
        server.PutObject(FBucket, QStringLiteral("db/second.backup"), QByteArray(4096, 'y'));
    }

    void captionCarriesTheVersion() {
        TAppTestBed bed;
        TCorvaneEditorForm form(bed.Environment());
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvane 1.0.0.0"));
    }

    // The window is there at once: the stored credentials are checked and the listing fills the grid
    // after it is shown.
    void acceptedCredentialsListAfterTheWindowIsShown() {
        TAppTestBed bed;
        TAppTestBed::StoreDemoAccount();
        TAppTestBed::Store(TSettingName::Bucket, FBucket + QStringLiteral("/db"));
        TAppTestBed::Store(TSettingName::TempDir, QStringLiteral(" /tmp/with blanks "));
        TAppTestBed::Store(TSettingName::DBUsername, QStringLiteral("postgres"));
        TAppTestBed::Store(TSettingName::RestoreJobs, QStringLiteral("3"));

        TCorvaneEditorForm form(bed.Environment());
        QCOMPARE(form.CdsObject().rowCount(), 0);
        QCOMPARE(Control<QLineEdit>(form, "EdtTempDir")->text(), QStringLiteral(" /tmp/with blanks "));
        QCOMPARE(Control<QLineEdit>(form, "EdtDBUsername")->text(), QStringLiteral("postgres"));
        QCOMPARE(Control<QSpinBox>(form, "EdtRestoreJobs")->value(), 3);

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TAppTestBed::WaitUntilIdle(form);
        QCOMPARE(form.CdsObject().rowCount(), 2);
        QTRY_VERIFY(Control<QLineEdit>(form, "EdtFilter")->hasFocus());
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    void bucketSettingAtStartUp_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("blank: no listing") << QStringLiteral(" \t ") << QStringList();
        QTest::newRow("no folder: said, and the window carries on")
            << QStringLiteral("no-folder") << QStringList{QStringLiteral("Invalid bucket configuration.")};
    }
    void bucketSettingAtStartUp() {
        QFETCH(QString, setting);
        QFETCH(QStringList, errors);
        TAppTestBed bed;
        const auto form = bed.SignedInWindow(setting);
        QCOMPARE(form->CdsObject().rowCount(), 0);
        QCOMPARE(bed.ErrorBoxes, errors);
        QCOMPARE(Control<QLineEdit>(*form, "EdtBucket")->text(), setting);
        QTRY_VERIFY(Control<QLineEdit>(*form, "EdtFilter")->hasFocus());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void unreadableSettingStillLeadsToTheSignIn() {
        TAppTestBed bed;
        TAppTestBed::StoreDemoAccount();
        {
            QSettings raw(TSettingsStore().Location(), QSettings::IniFormat);
            raw.setValue(TSettingName::TempDir, 42);
        }
        TCorvaneEditorForm form(bed.Environment());
        QCOMPARE(bed.ErrorBoxes, QStringList{QStringLiteral("Invalid data type for 'TempDir'")});
        QVERIFY(InSignInDialog(form, [](TLoginForm* dialog) { dialog->close(); }));
    }

    void missingCredentialsOpenTheDialogAndClosingItSavesNothing() {
        TAppTestBed bed;
        TAppTestBed::Store(TSettingName::Username, QStringLiteral("demo"));
        TCorvaneEditorForm form(bed.Environment());
        Control<QLineEdit>(form, "EdtBucket")->setText(QStringLiteral("typed/but-never-saved"));
        QString shownUser;
        int result = -1;
        QVERIFY(InSignInDialog(form, [&](TLoginForm* dialog) {
            shownUser = dialog->findChild<QLineEdit*>(QStringLiteral("EdtUsername"))->text();
            dialog->close();
            result = dialog->result();
        }));
        QCOMPARE(shownUser, QStringLiteral("demo"));
        QCOMPARE(result, TLoginForm::ResultClosed);
        QCOMPARE(bed.EndToolRequests, 1);
        QVERIFY(TAppTestBed::Stored(TSettingName::Bucket).isEmpty());
    }

    void refusedCredentialsThenCorrectedInTheDialog() {
        TAppTestBed bed;
        TAppTestBed::Store(TSettingName::Username, QStringLiteral("demo"));
        TAppTestBed::Store(TSettingName::Password, QStringLiteral("wrong"));
        TAppTestBed::Store(TSettingName::Bucket, FBucket + QStringLiteral("/db"));
        TCorvaneEditorForm form(bed.Environment());
        QCOMPARE(form.CdsObject().rowCount(), 0);

        QString shownPassword;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QVERIFY(InSignInDialog(form, [&](TLoginForm* dialog) {
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("EdtPassword"));
            shownPassword = password->text();
            echo = password->echoMode();
            password->setText(QStringLiteral("demo"));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("BtnConnect")), Qt::LeftButton);
        }));
        QCOMPARE(shownPassword, QStringLiteral("wrong"));
        QCOMPARE(echo, QLineEdit::Password);
        QCOMPARE(TAppTestBed::Stored(TSettingName::Password), QStringLiteral("demo"));
        QTRY_COMPARE(form.CdsObject().rowCount(), 2);
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    // A service that cannot be reached at start-up leads to the sign-in dialog as a refusal does; an
    // attempt there says why, and the dialog stays for another try.
    void unreachableServiceLeadsToTheSignInThatSaysWhy() {
        TAppTestBed bed;
        TAppTestBed::StoreDemoAccount();
        TCorvaneEnvironment environment = bed.Environment();
        environment.AccountUrl = QStringLiteral("http://127.0.0.1:1");
        TCorvaneEditorForm form(environment);
        QVERIFY(bed.ErrorBoxes.isEmpty());

        bool stillOpen = false;
        QVERIFY(InSignInDialog(form, [&](TLoginForm* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("BtnConnect")), Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([&] { return !dialog->IsChecking(); }, 30000));
            stillOpen = dialog->isVisible();
            dialog->close();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(bed.ErrorBoxes, QStringList{QStringLiteral(
                                     "Cannot reach the account service: Couldn't connect to server.")});
    }

    void closingSavesTheSettingsFields_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("close box") << false;
        QTest::newRow("Close button") << true;
    }
    void closingSavesTheSettingsFields() {
        QFETCH(bool, byButton);
        TAppTestBed bed;
        TAppTestBed::StoreDemoAccount();
        TCorvaneEditorForm form(bed.Environment());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Control<QLineEdit>(form, "EdtBucket")->setText(QStringLiteral(" backups / db "));
        Control<QLineEdit>(form, "EdtTempDir")->clear();
        Control<QLineEdit>(form, "EdtDBUsername")->setText(QStringLiteral("  "));
        Control<QLineEdit>(form, "EdtDBHost")->setText(QStringLiteral("db.example.com"));
        Control<QLineEdit>(form, "EdtDBPort")->setText(QStringLiteral("6432"));
        // No stored value: one job per core, at most 8.
        QCOMPARE(Control<QSpinBox>(form, "EdtRestoreJobs")->value(),
                 std::min(QThread::idealThreadCount(), 8));
        Control<QSpinBox>(form, "EdtRestoreJobs")->setValue(5);
        if (byButton)
            QTest::mouseClick(Control<QPushButton>(form, "BtnClose"), Qt::LeftButton);
        else
            form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(TAppTestBed::Stored(TSettingName::Bucket), QStringLiteral(" backups / db "));
        QCOMPARE(TAppTestBed::Stored(TSettingName::TempDir), QString());
        QCOMPARE(TAppTestBed::Stored(TSettingName::DBUsername), QStringLiteral("  "));
        QCOMPARE(TAppTestBed::Stored(TSettingName::RestoreJobs), QStringLiteral("5"));
        QCOMPARE(TAppTestBed::Stored(TSettingName::DBHost), QStringLiteral("db.example.com"));
        QCOMPARE(TAppTestBed::Stored(TSettingName::DBPort), QStringLiteral("6432"));
        QCOMPARE(TAppTestBed::Stored(TSettingName::Password), QStringLiteral("demo"));
    }

    // Closing always closes: settings that cannot be saved are reported on the way out.
    void failedSaveIsReportedAndTheWindowCloses() {
        TAppTestBed bed;
        TAppTestBed::StoreDemoAccount();
        TCorvaneEditorForm form(bed.Environment());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // A folder where the settings file belongs: no write can succeed, not even as root.
        const QString location = TSettingsStore().Location();
        QVERIFY(QFile::remove(location));
        QVERIFY(QDir().mkpath(location));
        QVERIFY(form.close());
        QVERIFY(QDir(location).removeRecursively());
        QVERIFY(!form.isVisible());
        QCOMPARE(bed.ErrorBoxes, QStringList{QStringLiteral(
                                     "The settings could not be saved: Failed to set data for 'Bucket'")});
    }

    // Escape while the stored credentials are being checked against a service that takes its time ends
    // the check, and the sign-in dialog follows at once instead of after the service's answer.
    void escapeDuringTheSignInCheckShowsTheDialog() {
        TAppTestBed bed;
        TAppTestBed::Store(TSettingName::Username, QStringLiteral("answer-slow"));
        TAppTestBed::Store(TSettingName::Password, QStringLiteral("any"));
        TCorvaneEditorForm form(bed.Environment());
        bool opened = false;
        WhenShown<TLoginForm>([&](TLoginForm* dialog) {
            opened = true;
            dialog->close();
        });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(form.IsOperationRunning());
        QTest::keyClick(&form, Qt::Key_Escape);
        // The slow answer comes after 10 s; the dialog must not wait for it.
        QTRY_VERIFY_WITH_TIMEOUT(opened, 5000);
        QCOMPARE(LogMessages(form), QStringList{QStringLiteral("Stopping: The sign-in check")});
        QCOMPARE(bed.EndToolRequests, 1);
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }
};

QTEST_MAIN(TestMainWindowStartUp)
#include "TestMainWindowStartUp.moc"
