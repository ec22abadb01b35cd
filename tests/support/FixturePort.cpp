#include "support/FixturePort.h"

#include "core/Error.h"

#include <QFile>

quint16 FixturePort(const QString& fixture) {
    const QString path = QStringLiteral(CORVANE_TEST_STATE_DIR "/%1/port").arg(fixture);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("The %1 fixture is not running (%2 is missing)").arg(fixture, path));
    bool ok = false;
    const uint port = file.readAll().trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        throw TError(QStringLiteral("%1 holds no port number").arg(path));
    return quint16(port);
}
