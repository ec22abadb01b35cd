#include "app/CorvaneLoginForm.h"

#include "app/ErrorBox.h"
#include "app/RunBeside.h"
#include "core/Error.h"
#include "ui_CorvaneLoginForm.h"

#include <QKeyEvent>
#include <QScopeGuard>
#include <QScreen>

namespace {

// The fields widen with the dialog and the button keeps its distance from the right edge: positions as
// designed for a client area of this width.
constexpr int DesignWidth = 315;
constexpr int ButtonLeftAtDesignWidth = 120;

} // namespace

TLoginForm::TLoginForm(QWidget* AOwner, CredentialCheck Authenticate, SettingsStore store,
                       std::function<void()> endTool)
    : QDialog(AOwner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::TLoginForm>())
    , FAuthenticate(std::move(Authenticate))
    , FStore(std::move(store))
    , FEndTool(std::move(endTool)) {
    ui->setupUi(this);
    connect(ui->BtnConnect, &QPushButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnConnectClick(); }); });

    if (const QScreen* screen = AOwner ? AOwner->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TLoginForm::~TLoginForm() = default;

void TLoginForm::FormCreate() {
    // A read error is shown here, as nothing above a constructor would show it; the dialog then opens
    // with the fields read until then.
    try {
        ui->EdtUsername->setText(FStore.ReadText(SettingName::Username));
        ui->EdtPassword->setText(FStore.ReadText(SettingName::Password));
    } catch (const std::exception& error) {
        ShowErrorBox(parentWidget(), MessageOf(error));
    }
}

void TLoginForm::BtnConnectClick() {
    // The request runs beside the dialog, which stays live meanwhile; Connect waits for its answer.
    const QString userName = ui->EdtUsername->text();
    const QString password = ui->EdtPassword->text();
    ui->BtnConnect->setEnabled(false);
    ui->BtnConnect->setCursor(Qt::BusyCursor);
    const auto ready = qScopeGuard([this] {
        ui->BtnConnect->setEnabled(true);
        ui->BtnConnect->unsetCursor();
    });
    const SignInResult result = RunBeside([&] { return FAuthenticate(userName, password); });
    // Closed meanwhile: the tool is ending, and the answer no longer matters.
    if (!isVisible())
        return;
    switch (result.outcome) {
    case SignInResult::Outcome::Accepted:
        break;
    case SignInResult::Outcome::Refused:
        throw Error(QStringLiteral("Incorrect username or password"));
    case SignInResult::Outcome::Unreachable:
        throw Error(QStringLiteral("Cannot reach the account service: %1").arg(result.reason));
    }
    FStore.WriteText(SettingName::Username, ui->EdtUsername->text());
    FStore.WriteText(SettingName::Password, ui->EdtPassword->text());
    done(ResultSignedIn);
}

// The close box and Alt+F4 arrive here through the close event.
void TLoginForm::reject() {
    done(ResultClosed);
}

void TLoginForm::done(int result) {
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
