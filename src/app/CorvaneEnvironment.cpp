#include "app/CorvaneEnvironment.h"

#include "config/BuildSettings.h"

#include <QCoreApplication>

TCorvaneEnvironment TCorvaneEnvironment::FromBuild() {
    // Every event loop stops at once, without a close request to the main window, whose close
    // handling would save its settings.
    return {QString::fromUtf8(BuildSettings::AccountUrl),
            TS3ConnectionInfo::FromBuild(),
            {},
            [] { QCoreApplication::exit(0); },
            TPasswordVault::TKeyringUse::System};
}
