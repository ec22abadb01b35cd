#pragma once

#include "account/AccountClient.h"
#include "app/BackgroundOperation.h"
#include "settings/PasswordVault.h"

#include <QCoreApplication>
#include <QDialog>

#include <functional>
#include <memory>
#include <stop_token>

namespace Ui {
class TLoginForm;
}

// The sign-in dialog. It opens with the stored credentials, checks what the user types with its
// owner's check, stores accepted credentials (the user name in the vault's settings store, the password
// in the vault) and closes with the result 1. It cannot be left otherwise than by ending the tool:
// closing it (close box, Alt+F4) gives the result 2 and asks the tool to end. Enter and Escape do
// nothing.
class TLoginForm : public QDialog {
    Q_OBJECT

  public:
    // Runs beside the dialog; a stop ends it.
    using TCredentialCheck = std::function<TSignInResult(const QString& AUserName, const QString& APassword,
                                                         std::stop_token stop)>;

    static constexpr int ResultSignedIn = 1;
    static constexpr int ResultClosed = 2;

    // owner: the main window. authenticate: its account check, run beside the dialog. vault: the owner's,
    // which outlives the dialog. endTool (never empty): how to ask the tool to end; by default every event
    // loop stops at once, without a close request to any window, so the main window's close handling
    // (which saves its settings) does not run.
    TLoginForm(
        QWidget* owner, TCredentialCheck authenticate, TPasswordVault& vault,
        std::function<void()> endTool = [] { QCoreApplication::exit(0); });
    ~TLoginForm() override;

    // Closing while a check runs stops it and waits for its end.
    void done(int result) override;
    void reject() override;

    bool IsChecking() const { return FCheck.IsRunning(); }

  public slots:
    // Starts one sign-in attempt beside the dialog with the texts of both fields as they stand; Connect
    // is off until it has ended. Then the dialog shows "Incorrect username or password" when the service
    // refused them, "Cannot reach the account service: <reason>" when the check got no word on them, and
    // the settings store's error when they cannot be stored, and stays open; otherwise it closes signed in.
    void BtnConnectClick();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void FormCreate();
    void FormClose();
    // The attempt's end, on the dialog's thread. Throws as BtnConnectClick describes.
    void SignInEnded(const TSignInResult& result);

    std::unique_ptr<Ui::TLoginForm> ui;
    TCredentialCheck FAuthenticate;
    TPasswordVault& FVault;
    std::function<void()> FEndTool;
    TBackgroundOperation FCheck;
};
