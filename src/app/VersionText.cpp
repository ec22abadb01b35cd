#include "app/VersionText.h"

#include "config/BuildSettings.h"

QString GetVersionText() {
    return QStringLiteral(" %1.%2.%3.%4")
        .arg(BuildSettings::VersionMajor)
        .arg(BuildSettings::VersionMinor)
        .arg(BuildSettings::VersionPatch)
        .arg(BuildSettings::VersionTweak);
}
