#include "restore/ProgramInput.h"

#include "core/Platform.h"

#include <QProcess>

TProgramInput::TProgramInput(QProcess& process, std::function<QByteArray()> source, std::stop_token stop)
    : process_(process)
    , source_(std::move(source))
    , stop_(std::move(stop)) {
    written_ = QObject::connect(&process_, &QProcess::bytesWritten, &process_, [this] { Feed(); });
    // A program that ends or closes its input early fails the write; what is left is not its to read.
    failed_ = QObject::connect(&process_, &QProcess::errorOccurred, &process_,
                               [this](QProcess::ProcessError error) {
                                   if (error == QProcess::WriteError)
                                       Halt();
                               });
}

TProgramInput::~TProgramInput() {
    QObject::disconnect(written_);
    QObject::disconnect(failed_);
}

void TProgramInput::Start() {
    Feed();
}

void TProgramInput::Feed() {
    while (!halted_ && process_.state() == QProcess::Running && process_.bytesToWrite() < InputBacklog) {
        // RunAndWait ends the program on its next look at the stop; until then, nothing more is read.
        if (stop_.stop_requested()) {
            Halt();
            return;
        }
        QByteArray block;
        try {
            block = source_();
        } catch (...) {
            failure_ = std::current_exception();
            Halt();
            ForceEnd(process_);
            return;
        }
        if (block.isEmpty()) {
            Halt();
            process_.closeWriteChannel();
            return;
        }
        if (process_.write(block) < 0) {
            Halt();
            return;
        }
    }
}
