#pragma once

#include "settings/Keyring.h"
#include "settings/SettingsStore.h"

#include <functional>

// Where the account password is kept: in the system keyring (service "Corvane"), and in the settings
// store's Password value only where no keyring answers. A password found in the store, left there by an
// older version or by a run without a keyring, is the one in use (it is newer than any in the keyring)
// until it has been accepted, when it moves into the keyring and leaves the store.
class TPasswordVault {
  public:
    enum class TKeyringUse {
        System, // the system keyring, the settings store where none answers
        None,   // the settings store alone, for tests and benchmarks that must not reach a real keyring
    };
    // Told once, the first time no keyring answers; the vault then keeps to the store for its lifetime.
    using TNotice = std::function<void(const QString& message)>;

    // The keyring's entry. A fixed key rather than the user name, so that signing in as another user
    // replaces the one password kept instead of leaving the old one behind; it names the program, so that
    // the entry stands out among other programs' where a keyring lists keys.
    static inline const QString KeyringService = QStringLiteral("Corvane");
    static inline const QString KeyringKey = QStringLiteral("Corvane/Password");

    explicit TPasswordVault(TSettingsStore store, TKeyringUse keyringUse = TKeyringUse::System,
                            TNotice notice = {});

    const TSettingsStore& Store() const { return FStore; }

    // The password kept, empty when there is none. Throws the store's TError when its Password value is
    // not a text.
    QString Read();

    // Keeps the password: in the keyring, removing it from the store, or in the store where no keyring
    // answers. Throws the store's TError when the store cannot be written.
    void Save(const QString& password);

    // After the password was accepted: one still in the store moves into the keyring.
    void MoveIntoKeyring(const QString& password);

  private:
    // Whether the keyring is to be asked; after its first failure to answer, with the notice told, not
    // any more.
    bool KeyringInUse() const { return FKeyringUse == TKeyringUse::System && !FKeyringSilent; }
    // Notes a keyring that did not answer, and why.
    void KeyringFailed(const QString& reason);

    TSettingsStore FStore;
    TKeyringUse FKeyringUse;
    TNotice FNotice;
    TKeyring FKeyring{KeyringService};
    bool FKeyringSilent = false;
};
