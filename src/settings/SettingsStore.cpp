#include "settings/SettingsStore.h"

#include "core/Error.h"

#include <QVariant>

#ifndef Q_OS_WIN
#include "settings/OwnerOnlyFile.h"
#endif

#ifdef Q_OS_WIN
TSettingsStore::TSettingsStore()
    : TSettingsStore(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Corvane"), QSettings::NativeFormat) {}
#else
TSettingsStore::TSettingsStore()
    : TSettingsStore(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Corvane"),
                               QStringLiteral("Corvane"))
                         .fileName(),
                     QSettings::IniFormat) {}
#endif

TSettingsStore::TSettingsStore(QString filePath)
    : TSettingsStore(std::move(filePath), QSettings::IniFormat) {}

TSettingsStore::TSettingsStore(QString location, QSettings::Format format)
    : FLocation(std::move(location))
    , FFormat(format) {}

QString TSettingsStore::ReadText(const QString& name) const {
    const QVariant value = QSettings(FLocation, FFormat).value(name);
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
#ifndef Q_OS_WIN
    if (!PrepareOwnerOnlyFile(FLocation))
        throw TError(QStringLiteral("Failed to set data for '%1'").arg(name));
#endif
    QSettings settings(FLocation, FFormat);
    settings.setValue(name, text);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw TError(QStringLiteral("Failed to set data for '%1'").arg(name));
}
