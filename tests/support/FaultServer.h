#pragma once

#include <QFile>

#include <stdexcept>

// The port of the fault server (tools/s3-fault-server) that the CTest fixture "s3_fault_server" runs.
inline quint16 FaultServerPort() {
    QFile file(QStringLiteral(CORVANE_TEST_STATE_DIR "/s3-fault-server/port"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The s3_fault_server fixture is not running");
    return quint16(file.readAll().trimmed().toUInt());
}
