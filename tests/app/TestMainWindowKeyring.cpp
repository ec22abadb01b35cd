#include "app/CorvaneForm.h"
#include "app/CorvaneLoginForm.h"
#include "support/AppTestBed.h"
#include "support/FileContents.h"
#include "support/LogMessages.h"
#include "support/PrivateKeyring.h"
#include "support/WhenShown.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The main window with the system keyring, here the private Secret Service of the private_keyring
// fixture: the start-up reads the password from it, a plain-text password moves into it once accepted,
// and the sign-in dialog stores what it accepted there.
class TestMainWindowKeyring : public QObject {
    Q_OBJECT

    static TCorvaneEnvironment KeyringEnvironment(TAppTestBed& bed) {
        TCorvaneEnvironment environment = bed.Environment();
        environment.Keyring = TPasswordVault::TKeyringUse::System;
        return environment;
    }

    static TKeyring Keyring() { return TKeyring(TPasswordVault::KeyringService); }

    static bool PasswordInSettingsFile() { return ReadAll(TSettingsStore().Location()).contains("Password"); }

    // Shows the window and waits for its start-up to end; false when a sign-in dialog opened (it is
    // closed at once).
    static bool SignedInWithoutDialog(TCorvaneEditorForm& form) {
        class TDialogCloser : public QObject {
          public:
            TDialogCloser() { qApp->installEventFilter(this); }
            ~TDialogCloser() override { qApp->removeEventFilter(this); }
            bool Shown = false;

          protected:
            bool eventFilter(QObject* watched, QEvent* event) override {
                auto* dialog = qobject_cast<TLoginForm*>(watched);
                if (dialog && event->type() == QEvent::Show) {
                    Shown = true;
                    QMetaObject::invokeMethod(dialog, &QWidget::close, Qt::QueuedConnection);
                }
                return false;
            }
        } closer;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return false;
        TAppTestBed::WaitUntilIdle(form);
        return !closer.Shown;
    }

  private slots:
    void initTestCase() { QVERIFY2(UsePrivateKeyring(), "the private_keyring fixture is not running"); }

    void acceptedPlainPasswordMovesIntoTheKeyring() {
        TAppTestBed bed;
        QCOMPARE(Keyring().Write(TPasswordVault::KeyringKey, QStringLiteral("older")).Outcome,
                 TKeyringAnswer::TOutcome::Done);
        TAppTestBed::StoreDemoAccount();
        TCorvaneEditorForm form(KeyringEnvironment(bed));

        QVERIFY(SignedInWithoutDialog(form));
        QVERIFY(!PasswordInSettingsFile());
        QCOMPARE(TAppTestBed::Stored(TSettingName::Username), QStringLiteral("demo"));
        QCOMPARE(Keyring().Read(TPasswordVault::KeyringKey).Password, QStringLiteral("demo"));
        QCOMPARE(LogMessages(form), QStringList());
        QCOMPARE(bed.ErrorBoxes, QStringList());
    }

    void storedPasswordComesFromTheKeyring() {
        TAppTestBed bed;
        QCOMPARE(Keyring().Write(TPasswordVault::KeyringKey, QStringLiteral("demo")).Outcome,
                 TKeyringAnswer::TOutcome::Done);
        TAppTestBed::Store(TSettingName::Username, QStringLiteral("demo"));
        TCorvaneEditorForm form(KeyringEnvironment(bed));

        QVERIFY(SignedInWithoutDialog(form));
        QVERIFY(!PasswordInSettingsFile());
        QCOMPARE(bed.ErrorBoxes, QStringList());
    }

    // The dialog shows the keyring's refused password and stores the accepted one there, not in the file.
    void signInDialogStoresInTheKeyring() {
        TAppTestBed bed;
        QCOMPARE(Keyring().Write(TPasswordVault::KeyringKey, QStringLiteral("wrong")).Outcome,
                 TKeyringAnswer::TOutcome::Done);
        TAppTestBed::Store(TSettingName::Username, QStringLiteral("demo"));
        TCorvaneEditorForm form(KeyringEnvironment(bed));

        QString shown;
        bool opened = false;
        WhenShown<TLoginForm>([&](TLoginForm* dialog) {
            opened = true;
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("EdtPassword"));
            shown = password->text();
            password->setText(QStringLiteral("demo"));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("BtnConnect")), Qt::LeftButton);
        });
        form.show();
        QVERIFY(QTest::qWaitFor([&] { return opened && !QApplication::activeModalWidget(); }, 30000));
        QCOMPARE(shown, QStringLiteral("wrong"));
        QCOMPARE(Keyring().Read(TPasswordVault::KeyringKey).Password, QStringLiteral("demo"));
        QVERIFY(!PasswordInSettingsFile());
        QCOMPARE(bed.EndToolRequests, 0);
        QCOMPARE(bed.ErrorBoxes, QStringList());
    }
};

QTEST_MAIN(TestMainWindowKeyring)
#include "TestMainWindowKeyring.moc"
