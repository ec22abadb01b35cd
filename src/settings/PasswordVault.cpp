#include "settings/PasswordVault.h"

TPasswordVault::TPasswordVault(TSettingsStore store, TKeyringUse keyringUse, TNotice notice)
    : FStore(std::move(store))
    , FKeyringUse(keyringUse)
    , FNotice(std::move(notice)) {}

QString TPasswordVault::Read() {
    const QString stored = FStore.ReadText(TSettingName::Password);
    if (!stored.isEmpty() || !KeyringInUse())
        return stored;
    const TKeyringAnswer answer = FKeyring.Read(KeyringKey);
    if (answer.Outcome == TKeyringAnswer::TOutcome::NoAnswer)
        KeyringFailed();
    return answer.Password;
}

void TPasswordVault::Save(const QString& password) {
    if (KeyringInUse()) {
        if (FKeyring.Write(KeyringKey, password).Outcome == TKeyringAnswer::TOutcome::Done) {
            FStore.RemoveValue(TSettingName::Password);
            return;
        }
        KeyringFailed();
    }
    FStore.WriteText(TSettingName::Password, password);
}

void TPasswordVault::MoveIntoKeyring(const QString& password) {
    if (KeyringInUse() && !FStore.ReadText(TSettingName::Password).isEmpty())
        Save(password);
}

void TPasswordVault::KeyringFailed() {
    FKeyringSilent = true;
    if (FNotice)
        FNotice(
            QStringLiteral("No system keyring answered: the password is kept in %1").arg(FStore.Location()));
}
