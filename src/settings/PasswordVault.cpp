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
        KeyringFailed(answer.Reason);
    return answer.Password;
}

void TPasswordVault::Save(const QString& password) {
    if (KeyringInUse()) {
        const TKeyringAnswer answer = FKeyring.Write(KeyringKey, password);
        if (answer.Outcome == TKeyringAnswer::TOutcome::Done) {
            FStore.RemoveValue(TSettingName::Password);
            return;
        }
        KeyringFailed(answer.Reason);
    }
    FStore.WriteText(TSettingName::Password, password);
}

void TPasswordVault::MoveIntoKeyring(const QString& password) {
    if (KeyringInUse() && !FStore.ReadText(TSettingName::Password).isEmpty())
        Save(password);
}

void TPasswordVault::KeyringFailed(const QString& reason) {
    FKeyringSilent = true;
    if (FNotice)
        FNotice(QStringLiteral("No system keyring answered: the password is kept in %1 (%2)")
                    .arg(FStore.Location(), reason));
}
