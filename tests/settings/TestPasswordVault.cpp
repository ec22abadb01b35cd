#include "settings/PasswordVault.h"
#include "support/FileContents.h"
#include "support/PrivateKeyring.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The password vault against a real keyring: on Linux the private Secret Service of the private_keyring
// fixture (tests/support/private-keyring), on Windows the Credential Manager.
class TestPasswordVault : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QStringList FNotices;

    QString StorePath() const { return FDir.filePath(QStringLiteral("Corvane/Corvane.ini")); }

    TPasswordVault Vault() {
        return TPasswordVault(TSettingsStore(StorePath()), TPasswordVault::TKeyringUse::System,
                              [this](const QString& message) { FNotices << message; });
    }

    static TKeyringAnswer KeyringEntry() {
        return TKeyring(TPasswordVault::KeyringService).Read(TPasswordVault::KeyringKey);
    }

  private slots:
    void initTestCase() {
#ifndef Q_OS_WIN
        QVERIFY2(UsePrivateKeyring(), "the private_keyring fixture is not running");
#endif
    }

    void init() {
        QVERIFY(FDir.isValid());
        QFile::remove(StorePath());
        FNotices.clear();
    }

    void cleanup() {
        QCOMPARE(FNotices, QStringList());
    }

    // The password goes into the keyring and never into the settings file.
    void passwordsComeBackFromTheKeyring_data() {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QStringLiteral("Right Password");
        QTest::newRow("beyond Latin-1") << QStringLiteral("pässwörd €𝄞 пароль");
        QTest::newRow("blanks and quotes") << QStringLiteral("  \"a\" = 'b';#[c]  ");
        QTest::newRow("long") << QStringLiteral("0123456789abcdef").repeated(256);
    }

    void passwordsComeBackFromTheKeyring() {
        QFETCH(QString, password);
        TSettingsStore(StorePath()).WriteText(TSettingName::Username, QStringLiteral("someone"));

        Vault().Save(password);
        QCOMPARE(Vault().Read(), password);
        const TKeyringAnswer entry = KeyringEntry();
        QCOMPARE(entry.Outcome, TKeyringAnswer::TOutcome::Done);
        QCOMPARE(entry.Password, password);
        QVERIFY(!ReadAll(StorePath()).contains("Password"));
        QCOMPARE(TSettingsStore(StorePath()).ReadText(TSettingName::Username), QStringLiteral("someone"));
    }

    // A password left in plain text by an earlier version is the one in use, ahead of an older one in the
    // keyring, until it has been accepted: then it moves into the keyring and out of the file.
    void plainPasswordMovesIntoTheKeyring() {
        QVERIFY(TKeyring(TPasswordVault::KeyringService)
                    .Write(TPasswordVault::KeyringKey, QStringLiteral("older"))
                    .Outcome == TKeyringAnswer::TOutcome::Done);
        const TSettingsStore store(StorePath());
        store.WriteText(TSettingName::Username, QStringLiteral("someone"));
        store.WriteText(TSettingName::Password, QStringLiteral("plain secret"));

        TPasswordVault vault = Vault();
        QCOMPARE(vault.Read(), QStringLiteral("plain secret"));
        vault.MoveIntoKeyring(QStringLiteral("plain secret"));

        QVERIFY(!ReadAll(StorePath()).contains("secret"));
        QCOMPARE(store.ReadText(TSettingName::Username), QStringLiteral("someone"));
        QCOMPARE(KeyringEntry().Password, QStringLiteral("plain secret"));
        QCOMPARE(Vault().Read(), QStringLiteral("plain secret"));

        // Once moved, the next accepted sign-in has nothing to move and writes nothing.
        Vault().MoveIntoKeyring(QStringLiteral("typed elsewhere"));
        QCOMPARE(KeyringEntry().Password, QStringLiteral("plain secret"));
    }

    // The tests' and benchmarks' vault keeps to the file and leaves the keyring alone.
    void settingsOnlyVaultLeavesTheKeyringAlone() {
        Vault().Save(QStringLiteral("in the keyring"));
        const TSettingsStore store(StorePath());
        TPasswordVault vault(store, TPasswordVault::TKeyringUse::None);

        QCOMPARE(vault.Read(), QString());
        vault.Save(QStringLiteral("in the file"));
        vault.MoveIntoKeyring(QStringLiteral("in the file"));
        QCOMPARE(store.ReadText(TSettingName::Password), QStringLiteral("in the file"));
        QCOMPARE(KeyringEntry().Password, QStringLiteral("in the keyring"));
    }
};

QTEST_GUILESS_MAIN(TestPasswordVault)
#include "TestPasswordVault.moc"
