#include "restore/ProgramInput.h"

#include "core/Platform.h"

#include <QProcess>

TProgramInput::TProgramInput(QProcess& process, std::function<QByteArray()> source, std::stop_token stop)
    : FProcess(process)
    , FSource(std::move(source))
    , FStop(std::move(stop)) {
    FWritten = QObject::connect(&FProcess, &QProcess::bytesWritten, &FProcess, [this] { Feed(); });
    // A program that ends or closes its input early fails the write; what is left is not its to read.
    FFailed = QObject::connect(&FProcess, &QProcess::errorOccurred, &FProcess,
                               [this](QProcess::ProcessError error) {
                                   if (error == QProcess::WriteError)
                                       Halt();
                               });
}

TProgramInput::~TProgramInput() {
    QObject::disconnect(FWritten);
    QObject::disconnect(FFailed);
}

void TProgramInput::Start() {
    Feed();
}

void TProgramInput::Feed() {
    while (!FHalted && FProcess.state() == QProcess::Running && FProcess.bytesToWrite() < InputBacklog) {
        // RunAndWait ends the program on its next look at the stop; until then, nothing more is read.
        if (FStop.stop_requested()) {
            Halt();
            return;
        }
        QByteArray block;
        try {
            block = FSource();
        } catch (...) {
            FFailure = std::current_exception();
            Halt();
            ForceEnd(FProcess);
            return;
        }
        if (block.isEmpty()) {
            Halt();
            FProcess.closeWriteChannel();
            return;
        }
        if (FProcess.write(block) < 0) {
            Halt();
            return;
        }
    }
}
