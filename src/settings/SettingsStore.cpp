#include "settings/SettingsStore.h"

#include "core/Error.h"

#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#ifdef Q_OS_WIN
#include "settings/SettingsRegistry.h"
#else
#include "settings/OwnerOnlyFile.h"
#endif

namespace {

QString FailedToSet(const QString& name) {
    return QStringLiteral("Failed to set data for '%1'").arg(name);
}

// An INI file at path whose folders and file are owner-only, ready for a write.
void PrepareIniFile([[maybe_unused]] const QString& path, [[maybe_unused]] const QString& name) {
#ifndef Q_OS_WIN
    if (!PrepareOwnerOnlyFile(path))
        throw TError(FailedToSet(name));
#endif
}

void SyncIniFile(QSettings& settings, const QString& name) {
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw TError(FailedToSet(name));
}

} // namespace

#ifdef Q_OS_WIN
TSettingsStore::TSettingsStore()
    : TSettingsStore(RegistryLocation, TKind::Registry) {}
#else
TSettingsStore::TSettingsStore()
    : TSettingsStore(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Corvane"),
                               QStringLiteral("Corvane"))
                         .fileName(),
                     TKind::IniFile) {}
#endif

TSettingsStore::TSettingsStore(QString filePath)
    : TSettingsStore(std::move(filePath), TKind::IniFile) {}

TSettingsStore::TSettingsStore(QString location, TKind kind)
    : FLocation(std::move(location))
    , FKind(kind) {}

QString TSettingsStore::ReadText(const QString& name) const {
#ifdef Q_OS_WIN
    if (FKind == TKind::Registry)
        return ReadRegistryText(name);
#endif
    const QVariant value = QSettings(FLocation, QSettings::IniFormat).value(name);
    if (!value.isValid())
        return {};
    if (value.typeId() != QMetaType::QString)
        throw TError(QStringLiteral("Invalid data type for '%1'").arg(name));

    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

void TSettingsStore::WriteText(const QString& name, const QString& text) const {
#ifdef Q_OS_WIN
    if (FKind == TKind::Registry)
        return WriteRegistryText(name, text);
#endif
    PrepareIniFile(FLocation, name);
    QSettings settings(FLocation, QSettings::IniFormat);
    settings.setValue(name, text);
    SyncIniFile(settings, name);
}

void TSettingsStore::RemoveValue(const QString& name) const {
#ifdef Q_OS_WIN
    if (FKind == TKind::Registry)
        return RemoveRegistryValue(name);
#endif
    // A missing store holds no value, and none is created for nothing.
    if (!QFileInfo::exists(FLocation))
        return;
    PrepareIniFile(FLocation, name);
    QSettings settings(FLocation, QSettings::IniFormat);
    settings.remove(name);
    SyncIniFile(settings, name);
}
