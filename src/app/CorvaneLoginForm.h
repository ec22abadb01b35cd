#pragma once

#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TLoginForm;
}

// The sign-in dialog. It opens with the stored credentials, checks what the user types with its
// owner's check, stores accepted credentials and closes with the result 1. It cannot be left otherwise
// than by ending the tool: closing it (close box, Alt+F4) gives the result 2 and asks the tool to end.
// Enter and Escape do nothing.
class TLoginForm : public QDialog {
    Q_OBJECT

  public:
    using CredentialCheck = std::function<bool(const QString& AUserName, const QString& APassword)>;

    static constexpr int ResultSignedIn = 1;
    static constexpr int ResultClosed = 2;

    // AOwner: the main window. Authenticate: its account check. endTool (never empty): how to ask the
    // tool to end; by default every event loop stops at once, without a close request to any window, so
    // the main window's close handling (which saves its settings) does not run.
    TLoginForm(
        QWidget* AOwner, CredentialCheck Authenticate, SettingsStore store,
        std::function<void()> endTool = [] { QCoreApplication::exit(0); });
    ~TLoginForm() override;

    void done(int result) override;
    void reject() override;

  public slots:
    // One sign-in attempt with the texts of both fields as they stand. Throws Error
    // "Incorrect username or password" when the check refuses them, and the settings store's error when
    // they cannot be stored; the dialog then stays open.
    void BtnConnectClick();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void FormCreate();
    void FormClose();

    std::unique_ptr<Ui::TLoginForm> ui;
    CredentialCheck FAuthenticate;
    SettingsStore FStore;
    std::function<void()> FEndTool;
};
