#include "settings/SettingsRegistry.h"

#include "core/Error.h"

#include <cwchar>
#include <memory>
#include <type_traits>
#include <vector>

#include <windows.h>

namespace {

constexpr const wchar_t* KeyPath = L"SOFTWARE\\Corvane";

using TKeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&::RegCloseKey)>;

const wchar_t* WideText(const QString& text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

TError FailedToSet(const QString& name) {
    return TError(QStringLiteral("Failed to set data for '%1'").arg(name));
}

} // namespace

QString ReadRegistryText(const QString& name) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        DWORD type = REG_NONE;
        DWORD size = DWORD(buffer.size() * sizeof(wchar_t));
        // RRF_NOEXPAND: a REG_EXPAND_SZ is reported as what it is, not expanded into a REG_SZ.
        const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, KeyPath, WideText(name),
                                              RRF_RT_ANY | RRF_NOEXPAND, &type, buffer.data(), &size);
        if (status == ERROR_MORE_DATA) {
            // The value may grow again before the next call, which then asks once more.
            buffer.resize(size / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return {};
        if (type != REG_SZ)
            throw TError(QStringLiteral("Invalid data type for '%1'").arg(name));
        // Data that lacks its terminating NUL ends where the data ends.
        const std::size_t length = ::wcsnlen(buffer.data(), size / sizeof(wchar_t));
        return QString::fromWCharArray(buffer.data(), qsizetype(length));
    }
}

void WriteRegistryText(const QString& name, const QString& text) {
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, &opened, nullptr) != ERROR_SUCCESS)
        throw FailedToSet(name);
    const TKeyHandle key(opened, &::RegCloseKey);
    // The text with its terminating NUL, as REG_SZ data is stored.
    const DWORD size = DWORD((text.size() + 1) * sizeof(wchar_t));
    if (::RegSetValueExW(key.get(), WideText(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(WideText(text)),
                         size) != ERROR_SUCCESS)
        throw FailedToSet(name);
}

void RemoveRegistryValue(const QString& name) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath, 0, KEY_SET_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    if (status != ERROR_SUCCESS)
        throw FailedToSet(name);
    const TKeyHandle key(opened, &::RegCloseKey);
    const LSTATUS removed = ::RegDeleteValueW(key.get(), WideText(name));
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        throw FailedToSet(name);
}
