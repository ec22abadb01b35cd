#include "app/CorvaneLoginForm.h"

#include "app/ErrorBox.h"
#include "core/Error.h"
#include "ui_CorvaneLoginForm.h"

#include <QKeyEvent>
#include <QScreen>

namespace {

// The fields widen with the dialog and the button keeps its distance from the right edge: positions as
// designed for a client area of this width.
constexpr int DesignWidth = 315;
constexpr int ButtonLeftAtDesignWidth = 120;

} // namespace

TLoginForm::TLoginForm(QWidget* owner, TCredentialCheck authenticate, TPasswordVault& vault,
                       std::function<void()> endTool)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::TLoginForm>())
    , FAuthenticate(std::move(authenticate))
    , FVault(vault)
    , FEndTool(std::move(endTool)) {
    ui->setupUi(this);
    connect(ui->BtnConnect, &QPushButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnConnectClick(); }); });

    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TLoginForm::~TLoginForm() = default;

void TLoginForm::FormCreate() {
    // A read error is shown here, as nothing above a constructor would show it; the dialog then opens
    // with the fields read until then.
    try {
        ui->EdtUsername->setText(FVault.Store().ReadText(TSettingName::Username));
        ui->EdtPassword->setText(FVault.Read());
    } catch (const std::exception& error) {
        ShowErrorBox(parentWidget(), MessageOf(error));
    }
}

void TLoginForm::BtnConnectClick() {
    if (FCheck.IsRunning())
        return;
    ui->BtnConnect->setEnabled(false);
    ui->BtnConnect->setCursor(Qt::BusyCursor);
    // Written by the check's thread before it ends, read here after it has ended.
    auto result = std::make_shared<TSignInResult>();
    FCheck.Start([check = FAuthenticate, userName = ui->EdtUsername->text(),
                  password = ui->EdtPassword->text(),
                  result](std::stop_token stop) { *result = check(userName, password, stop); },
                 [this, result](std::exception_ptr) {
                     ui->BtnConnect->setEnabled(true);
                     ui->BtnConnect->unsetCursor();
                     ReportErrors(this, [&] { SignInEnded(*result); });
                 });
}

void TLoginForm::SignInEnded(const TSignInResult& result) {
    switch (result.Outcome) {
    case TSignInResult::TOutcome::Accepted:
        break;
    case TSignInResult::TOutcome::Refused:
        throw TError(QStringLiteral("Incorrect username or password"));
    case TSignInResult::TOutcome::Unreachable:
        throw TError(QStringLiteral("Cannot reach the account service: %1").arg(result.Reason));
    case TSignInResult::TOutcome::Stopped:
        return;
    }
    FVault.Store().WriteText(TSettingName::Username, ui->EdtUsername->text());
    FVault.Save(ui->EdtPassword->text());
    done(ResultSignedIn);
}

// The close box and Alt+F4 arrive here through the close event.
void TLoginForm::reject() {
    done(ResultClosed);
}

void TLoginForm::done(int result) {
    FCheck.StopAndJoin();
    QDialog::done(result);
    FormClose();
}

void TLoginForm::FormClose() {
    if (result() != ResultSignedIn)
        FEndTool();
}

void TLoginForm::keyPressEvent(QKeyEvent* event) {
    // No default and no cancel button: Enter does not sign in and Escape does not close.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TLoginForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int growth = width() - DesignWidth;
    for (QWidget* field : {static_cast<QWidget*>(ui->EdtUsername), static_cast<QWidget*>(ui->EdtPassword)})
        field->resize(DesignWidth - 2 * field->x() + growth, field->height());
    ui->BtnConnect->move(ButtonLeftAtDesignWidth + growth, ui->BtnConnect->y());
}
