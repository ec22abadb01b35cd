#pragma once

#include <QString>

// The values of HKEY_CURRENT_USER\SOFTWARE\Corvane through the registry API (Windows only), as REG_SZ
// texts exactly as written: no escaping, no type tags, nothing read as anything but the text it holds.

inline const QString RegistryLocation = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Corvane");

// The value's text up to its first NUL; empty when the value or the key is missing or cannot be read.
// Throws TError "Invalid data type for '<name>'" when the value is not a REG_SZ.
QString ReadRegistryText(const QString& name);

// Creates the key when needed and sets the value as a REG_SZ. Throws TError
// "Failed to set data for '<name>'".
void WriteRegistryText(const QString& name, const QString& text);

// Deletes the value; a missing value or key is no error. Throws TError "Failed to set data for '<name>'".
void RemoveRegistryValue(const QString& name);
