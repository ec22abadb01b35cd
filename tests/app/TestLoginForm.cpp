#include "account/AccountClient.h"
#include "app/CorvaneLoginForm.h"
#include "support/AccountTestService.h"
#include "support/Control.h"
#include "support/ErrorBoxCapture.h"
#include "support/ErrorOf.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

// What the dialog did with the world around it: the checks it asked for, whether each ran beside the
// dialog's thread while that thread went on processing events, the error boxes and the requests to end
// the tool.
struct TObserved {
    QStringList Checks;
    QList<bool> CheckedBeside;
    QStringList ErrorBoxes;
    QList<bool> Stopped; // per check: whether a stop ended it
    int EndRequests = 0;
};

} // namespace

class TestLoginForm : public QObject {
    Q_OBJECT

    TAccountTestService FService = TAccountTestService::FromFixture();
    TAccountClient FClient{FService.BaseUrl()};
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TSettingsStore> FStore;
    // The password in the store alone: the dialog's tests never reach a keyring.
    std::unique_ptr<TPasswordVault> FVault;
    TObserved FObserved;
    std::unique_ptr<TErrorBoxCapture> FErrorBoxes;
    // Ticks of a timer on the dialog's thread, read by checks that run beside it.
    std::atomic<int> FGuiTicks = 0;
    // Checks begun, for a test that waits for one on the dialog's thread while it runs beside.
    std::atomic<int> FChecksBegun = 0;
    QTimer FTicker;

    // The dialog as the main window makes it, its check being the real sign-in against the service
    // (or against checkWith, another account client).
    std::unique_ptr<TLoginForm> MakeDialog(TAccountClient* checkWith = nullptr) {
        TAccountClient* checking = checkWith ? checkWith : &FClient;
        auto check = [this, checking](const QString& user, const QString& password, std::stop_token stop) {
            FObserved.Checks.append(user + u'|' + password);
            ++FChecksBegun;
            const bool beside = QThread::currentThread() != qApp->thread();
            FObserved.CheckedBeside.append(beside);
            if (beside) {
                // The dialog's thread ticks on while the check waits for three of its ticks.
                const int from = FGuiTicks;
                QDeadlineTimer deadline(5000);
                while (FGuiTicks < from + 3 && !deadline.hasExpired())
                    QThread::msleep(2);
                FObserved.CheckedBeside.last() = FGuiTicks >= from + 3;
            }
            const TSignInResult result = checking->Authenticate(user, password, stop);
            FObserved.Stopped.append(result.Outcome == TSignInResult::TOutcome::Stopped);
            return result;
        };
        return std::make_unique<TLoginForm>(nullptr, check, *FVault, [this] { ++FObserved.EndRequests; });
    }

    // Connect as a click would press it, waiting for the check's end: the error box it showed, if any.
    QString SignIn(TLoginForm& dialog) {
        const qsizetype boxes = FObserved.ErrorBoxes.size();
        dialog.BtnConnectClick();
        if (!QTest::qWaitFor([&] { return !dialog.IsChecking(); }, 30000))
            return QStringLiteral("the check did not end");
        return FObserved.ErrorBoxes.size() > boxes ? FObserved.ErrorBoxes.constLast() : QString();
    }

    static void ShowActive(QWidget& dialog) {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
    }

  private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FStore = std::make_unique<TSettingsStore>(FDir->filePath(QStringLiteral("Corvane/Corvane.ini")));
        FVault = std::make_unique<TPasswordVault>(*FStore, TPasswordVault::TKeyringUse::None);
        FObserved = {};
        FErrorBoxes = std::make_unique<TErrorBoxCapture>(FObserved.ErrorBoxes);
        FTicker.start(2);
    }

    void initTestCase() {
        connect(&FTicker, &QTimer::timeout, this, [this] { ++FGuiTicks; });
    }

    void cleanup() {
        FTicker.stop();
        FErrorBoxes.reset();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void designedLayout() {
        const auto dialog = MakeDialog();
        ShowActive(*dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Sign in to Corvane"));
        QCOMPARE(dialog->size(), QSize(315, 143));
        const Qt::WindowFlags flags = dialog->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint) && flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint) &&
                !flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(Control<QLabel>(*dialog, "LblUsername")->text(), QStringLiteral("Username"));
        QCOMPARE(Control<QLabel>(*dialog, "LblPassword")->text(), QStringLiteral("Password"));

        auto* user = Control<QLineEdit>(*dialog, "EdtUsername");
        auto* password = Control<QLineEdit>(*dialog, "EdtPassword");
        auto* button = Control<QPushButton>(*dialog, "BtnConnect");
        QCOMPARE(button->text(), QStringLiteral("Sign in"));
        QCOMPARE(button->size(), QSize(75, 25));
        QVERIFY(!button->isDefault() && !button->autoDefault());
        password->setText(QStringLiteral("pa ss"));
        QCOMPARE(password->displayText(), QStringLiteral("*****"));

        user->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), password);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button);

        // Fields widen with the dialog; the button keeps its distance from the right edge.
        const QRect userAtDesign = user->geometry();
        const QRect buttonAtDesign = button->geometry();
        dialog->resize(415, 200);
        QCOMPARE(user->geometry(), userAtDesign.adjusted(0, 0, 100, 0));
        QCOMPARE(password->width(), userAtDesign.width() + 100);
        QCOMPARE(button->geometry(), buttonAtDesign.translated(100, 0));
        QCOMPARE(buttonAtDesign.x(), 120);
        QCOMPARE(userAtDesign.x(), 8);
        QCOMPARE(userAtDesign.width(), 299);
    }

    void opensWithTheStoredCredentials_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("first start") << QByteArray() << QString() << QString() << QStringList();
        QTest::newRow("blanks kept") << QByteArray(
                                            "[General]\nUsername=\" padded \"\nPassword=\" pass word \"\n")
                                     << QStringLiteral(" padded ") << QStringLiteral(" pass word ")
                                     << QStringList();
        QTest::newRow("password not a text")
            << QByteArray("[General]\nUsername=someone\nPassword=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n")
            << QStringLiteral("someone") << QString()
            << QStringList{QStringLiteral("Invalid data type for 'Password'")};
        QTest::newRow("user name not a text")
            << QByteArray("[General]\nUsername=a, b\nPassword=p\n") << QString() << QString()
            << QStringList{QStringLiteral("Invalid data type for 'Username'")};
    }

    void opensWithTheStoredCredentials() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QStringList, errors);
        if (!ini.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(FStore->Location()).path()));
            QFile file(FStore->Location());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini);
        }
        const auto dialog = MakeDialog();
        QCOMPARE(Control<QLineEdit>(*dialog, "EdtUsername")->text(), user);
        QCOMPARE(Control<QLineEdit>(*dialog, "EdtPassword")->text(), password);
        QCOMPARE(FObserved.ErrorBoxes, errors);
    }

    void refusedThenAccepted() {
        FStore->WriteText(TSettingName::Username, QStringLiteral("dialog-test"));
        FStore->WriteText(TSettingName::Password, QStringLiteral("refused before"));
        const auto dialog = MakeDialog();
        ShowActive(*dialog);
        auto* password = Control<QLineEdit>(*dialog, "EdtPassword");

        QCOMPARE(SignIn(*dialog), ErrorBoxText(QStringLiteral("Incorrect username or password")));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), 0);
        QCOMPARE(FStore->ReadText(TSettingName::Password), QStringLiteral("refused before"));

        password->setText(QStringLiteral("Right Password"));
        QCOMPARE(SignIn(*dialog), QString());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), TLoginForm::ResultSignedIn);
        QCOMPARE(FStore->ReadText(TSettingName::Username), QStringLiteral("dialog-test"));
        QCOMPARE(FStore->ReadText(TSettingName::Password), QStringLiteral("Right Password"));

        QCOMPARE(FObserved.Checks, (QStringList{QStringLiteral("dialog-test|refused before"),
                                                QStringLiteral("dialog-test|Right Password")}));
        QCOMPARE(FObserved.CheckedBeside, (QList<bool>{true, true}));
        QCOMPARE(FObserved.EndRequests, 0);
    }

    // Only the service's refusal blames the credentials; a service that cannot be asked says why.
    // Either way the dialog stays open with what was typed, and nothing is stored.
    void failedSignInSaysWhatHappened_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("error");
        const QString serviceUrl = FService.BaseUrl();
        QTest::newRow("refused") << serviceUrl << QStringLiteral("dialog-test")
                                 << QStringLiteral("Incorrect username or password");
        QTest::newRow("403") << serviceUrl << QStringLiteral("answer-403")
                             << QStringLiteral("Incorrect username or password");
        QTest::newRow("500") << serviceUrl << QStringLiteral("answer-500")
                             << QStringLiteral(
                                    "Cannot reach the account service: the service answered with status 500");
        QTest::newRow("service down")
            << QStringLiteral("http://127.0.0.1:1") << QStringLiteral("dialog-test")
            << QStringLiteral("Cannot reach the account service: Couldn't connect to server");
    }

    void failedSignInSaysWhatHappened() {
        QFETCH(QString, url);
        QFETCH(QString, user);
        QFETCH(QString, error);
        TAccountClient checking(url);
        const auto dialog = MakeDialog(&checking);
        ShowActive(*dialog);
        Control<QLineEdit>(*dialog, "EdtUsername")->setText(user);
        Control<QLineEdit>(*dialog, "EdtPassword")->setText(QStringLiteral("typed"));

        QTest::mouseClick(Control<QPushButton>(*dialog, "BtnConnect"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !dialog->IsChecking(); }, 30000));
        QCOMPARE(FObserved.ErrorBoxes, QStringList{ErrorBoxText(error)});
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), 0);
        QCOMPARE(Control<QLineEdit>(*dialog, "EdtUsername")->text(), user);
        QVERIFY(!QFile::exists(FStore->Location()));
        QCOMPARE(FObserved.EndRequests, 0);
    }

    void failedStoringKeepsTheDialogOpen() {
        QFile blocker(QFileInfo(FStore->Location()).path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const auto dialog = MakeDialog();
        ShowActive(*dialog);
        Control<QLineEdit>(*dialog, "EdtUsername")->setText(QStringLiteral("dialog-test"));
        Control<QLineEdit>(*dialog, "EdtPassword")->setText(QStringLiteral("Right Password"));

        QCOMPARE(SignIn(*dialog), ErrorBoxText(QStringLiteral("Failed to set data for 'Username'")));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), 0);
        QCOMPARE(FObserved.EndRequests, 0);
    }

    void enterAndEscapeDoNothing_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        const QList<std::pair<const char*, Qt::Key>> keys{
            {"Return", Qt::Key_Return}, {"Enter", Qt::Key_Enter}, {"Escape", Qt::Key_Escape}};
        for (const char* control : {"EdtUsername", "EdtPassword", "BtnConnect"})
            for (const auto& [name, key] : keys)
                QTest::addRow("%s in %s", name, control) << QString::fromLatin1(control) << int(key);
    }

    void enterAndEscapeDoNothing() {
        QFETCH(QString, control);
        QFETCH(int, key);
        const auto dialog = MakeDialog();
        ShowActive(*dialog);
        Control<QLineEdit>(*dialog, "EdtUsername")->setText(QStringLiteral("dialog-test"));
        Control<QLineEdit>(*dialog, "EdtPassword")->setText(QStringLiteral("Right Password"));
        QWidget* target = dialog->findChild<QWidget*>(control);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), 0);
        QCOMPARE(FObserved.Checks, QStringList());
        QCOMPARE(FObserved.EndRequests, 0);
    }

    void closingEndsTheToolWithoutStoring_data() {
        QTest::addColumn<bool>("modal");
        QTest::newRow("close box") << false;
        QTest::newRow("close box while modal") << true;
    }

    void closingEndsTheToolWithoutStoring() {
        QFETCH(bool, modal);
        const auto dialog = MakeDialog();
        Control<QLineEdit>(*dialog, "EdtUsername")->setText(QStringLiteral("dialog-test"));
        Control<QLineEdit>(*dialog, "EdtPassword")->setText(QStringLiteral("Right Password"));
        if (modal) {
            QTimer::singleShot(0, dialog.get(), [&] { dialog->close(); });
            QCOMPARE(dialog->exec(), TLoginForm::ResultClosed);
        } else {
            ShowActive(*dialog);
            QVERIFY(dialog->close());
        }
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), TLoginForm::ResultClosed);
        QCOMPARE(FObserved.EndRequests, 1);
        QCOMPARE(FObserved.Checks, QStringList());
        QVERIFY(!QFile::exists(FStore->Location()));
    }

    // Closing the dialog while the service takes its time stops the check instead of waiting for it.
    void closingStopsTheCheck() {
        const auto dialog = MakeDialog();
        ShowActive(*dialog);
        Control<QLineEdit>(*dialog, "EdtUsername")->setText(QStringLiteral("answer-slow"));
        dialog->BtnConnectClick();
        QVERIFY(dialog->IsChecking());
        QVERIFY(QTest::qWaitFor([&] { return FChecksBegun > 0; }, 5000));
        QVERIFY(dialog->close());
        QVERIFY(!dialog->IsChecking());
        QCOMPARE(FObserved.Stopped, QList<bool>{true});
        QCOMPARE(dialog->result(), TLoginForm::ResultClosed);
        QCOMPARE(FObserved.EndRequests, 1);
        QCOMPARE(FObserved.ErrorBoxes, QStringList());
    }

    // Ending the tool stops its event loops without a close request to the main window, whose close
    // handling would save its settings.
    void endingTheToolLeavesTheOwnerUnclosed() {
        class TOwner : public QWidget {
          public:
            int CloseRequests = 0;

          protected:
            void closeEvent(QCloseEvent* event) override {
                ++CloseRequests;
                event->accept();
            }
        } owner;
        owner.show();
        int dialogResult = -1;
        QTimer::singleShot(0, &owner, [&] {
            TLoginForm dialog(
                &owner,
                [](const QString&, const QString&, std::stop_token) {
                    return TSignInResult{TSignInResult::TOutcome::Refused, {}};
                },
                *FVault);
            QTimer::singleShot(0, &dialog, [&] { dialog.close(); });
            dialogResult = dialog.exec();
        });
        QTimer::singleShot(10000, &owner, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(dialogResult, TLoginForm::ResultClosed);
        QCOMPARE(owner.CloseRequests, 0);
        QVERIFY(owner.isVisible());
    }
};

QTEST_MAIN(TestLoginForm)
#include "TestLoginForm.moc"
