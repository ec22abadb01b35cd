#pragma once

#include <QFile>
#include <QString>

// Points this test program at the private Secret Service of the private_keyring fixture (see
// tests/support/private-keyring): to be called before anything opens a connection to a session bus.
// False when the fixture is not running.
inline bool UsePrivateKeyring() {
    QFile address(QStringLiteral(CORVANE_TEST_STATE_DIR "/private_keyring/address"));
    if (!address.open(QIODevice::ReadOnly))
        return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.readLine().trimmed());
    return true;
}
