#include "settings/SettingsStore.h"

#include "core/Error.h"

#include <QVariant>

#ifndef Q_OS_WIN
#include "settings/OwnerOnlyFile.h"
#endif

#ifdef Q_OS_WIN
SettingsStore::SettingsStore()
    : SettingsStore(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Corvane"), QSettings::NativeFormat) {}
#else
SettingsStore::SettingsStore()
    : SettingsStore(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Corvane"),
                              QStringLiteral("Corvane"))
                        .fileName(),
                    QSettings::IniFormat) {}
#endif

SettingsStore::SettingsStore(QString filePath)
    : SettingsStore(std::move(filePath), QSettings::IniFormat) {}

SettingsStore::SettingsStore(QString location, QSettings::Format format)
    : location_(std::move(location))
    , format_(format) {}

QString SettingsStore::ReadText(const QString& name) const {
    const QVariant value = QSettings(location_, format_).value(name);
    if (!value.isValid())
        return {};
    if (value.typeId() != QMetaType::QString)
        throw Error(QStringLiteral("Invalid data type for '%1'").arg(name));

    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

void SettingsStore::WriteText(const QString& name, const QString& text) const {
#ifndef Q_OS_WIN
    if (!PrepareOwnerOnlyFile(location_))
        throw Error(QStringLiteral("Failed to set data for '%1'").arg(name));
#endif
    QSettings settings(location_, format_);
    settings.setValue(name, text);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Error(QStringLiteral("Failed to set data for '%1'").arg(name));
}
