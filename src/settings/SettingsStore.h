#pragma once

#include <QLatin1String>
#include <QString>

// Names of the values the tool keeps between runs.
namespace TSettingName {
inline constexpr QLatin1String Username{"Username"};
inline constexpr QLatin1String Password{"Password"};
inline constexpr QLatin1String Bucket{"Bucket"};
inline constexpr QLatin1String TempDir{"TempDir"};
inline constexpr QLatin1String DBUsername{"DBUsername"};
inline constexpr QLatin1String RestoreJobs{"RestoreJobs"};       // pg_restore's jobs, as decimal text
inline constexpr QLatin1String DBHost{"DBHost"};                 // empty: the client programs' default
inline constexpr QLatin1String DBPort{"DBPort"};                 // empty: the client programs' default
inline constexpr QLatin1String LogPanelHeight{"LogPanelHeight"}; // the lower panel's pixels, decimal text
} // namespace TSettingName

// The per-user settings store: an INI file readable by its owner alone (on Windows the registry key
// HKEY_CURRENT_USER\SOFTWARE\Corvane, whose values are REG_SZ texts). Every call opens the store, does its
// one read or write and closes it again, so no handle lives between operations and two running copies
// see each other's last writes. Texts are kept exactly as given: not trimmed, not validated, not
// converted, not escaped.
class TSettingsStore {
  public:
    // The standard per-user location: Corvane/Corvane.ini in the user's configuration folder (on
    // Windows the registry key).
    TSettingsStore();
    // An INI file at filePath, for instance in a test's temporary folder.
    explicit TSettingsStore(QString filePath);

    const QString& Location() const { return FLocation; }

    // The stored text up to its first NUL; empty when the value or the store is missing or unreadable.
    // Throws TError "Invalid data type for '<name>'" when the value is not a text.
    QString ReadText(const QString& name) const;

    // Replaces the value, whatever it held before. The file is replaced atomically, and it and its
    // folder are created owner-only (0600 and 0700). Throws TError
    // "Failed to set data for '<name>'" when the value cannot be written durably.
    void WriteText(const QString& name, const QString& text) const;

    // Removes the value; one that is not there is no error, and a missing store is not created. Throws
    // TError "Failed to set data for '<name>'" when the store cannot be written.
    void RemoveValue(const QString& name) const;

  private:
    enum class TKind { IniFile, Registry };
    TSettingsStore(QString location, TKind kind);

    QString FLocation;
    [[maybe_unused]] TKind FKind; // only Windows has a registry
};
