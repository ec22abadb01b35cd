#include "settings/PasswordVault.h"
#include "support/FileContents.h"

#include <QTemporaryDir>
#include <QTest>

// The password vault where no Secret Service answers (CTest points the session bus at nothing): the
// password stays in the settings file, and the notice is told once.
class TestPasswordFallback : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QStringList FNotices;

    QString StorePath() const { return FDir.filePath(QStringLiteral("Corvane.ini")); }

    TPasswordVault Vault() {
        return TPasswordVault(TSettingsStore(StorePath()), TPasswordVault::TKeyringUse::System,
                              [this](const QString& message) { FNotices << message; });
    }

    // The notices told, each without its reason, which comes from the keyring's library; one without a
    // reason stays whole, so that the comparison shows it.
    QStringList Notices() const {
        QStringList notices;
        for (const QString& notice : FNotices) {
            const QString start = Notice() + QStringLiteral(" (");
            const bool reasoned =
                notice.startsWith(start) && notice.endsWith(u')') && notice.size() > start.size() + 1;
            notices << (reasoned ? Notice() : notice);
        }
        return notices;
    }

    QString Notice() const {
        return QStringLiteral("No system keyring answered: the password is kept in ") + StorePath();
    }

  private slots:
    void init() {
        QVERIFY(FDir.isValid());
        QFile::remove(StorePath());
        FNotices.clear();
    }

    void savedPasswordStaysInTheFile() {
        TPasswordVault vault = Vault();
        vault.Save(QStringLiteral("pässwort"));
        QCOMPARE(Notices(), QStringList{Notice()});
        QCOMPARE(TSettingsStore(StorePath()).ReadText(TSettingName::Password), QStringLiteral("pässwort"));

        // Told once: the vault does not ask a keyring again.
        vault.Save(QStringLiteral("second"));
        QCOMPARE(vault.Read(), QStringLiteral("second"));
        QCOMPARE(Notices(), QStringList{Notice()});
    }

    // A password in the file is read without asking a keyring; moving it finds none and leaves it there.
    void plainPasswordStaysWhereItIs() {
        QVERIFY(WriteFile(StorePath(), "[General]\nUsername=someone\nPassword=plain\n"));
        TPasswordVault vault = Vault();
        QCOMPARE(vault.Read(), QStringLiteral("plain"));
        QCOMPARE(Notices(), QStringList());

        vault.MoveIntoKeyring(QStringLiteral("plain"));
        QCOMPARE(Notices(), QStringList{Notice()});
        QCOMPARE(TSettingsStore(StorePath()).ReadText(TSettingName::Password), QStringLiteral("plain"));
    }

    void noPasswordAnywhereReadsEmpty() {
        QCOMPARE(Vault().Read(), QString());
        QCOMPARE(Notices(), QStringList{Notice()});
    }
};

QTEST_GUILESS_MAIN(TestPasswordFallback)
#include "TestPasswordFallback.moc"
