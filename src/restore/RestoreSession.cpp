#include "restore/RestoreSession.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/TargetPath.h"

#include <QFile>
#include <QFileInfo>

void CheckWorkingFolder(const QString& workingFolder) {
    if (workingFolder.isEmpty() || !QFileInfo(workingFolder).isDir())
        throw Error(QStringLiteral("Invalid temporary directory"));
}

TRestoreSession::TRestoreSession(TRestoreInput input)
    : input_(std::move(input))
    , targetPath_(::TargetPath(input_.WorkingFolder, input_.Record.Name))
    , steps_(input_.Server, input_.Database, input_.Jobs, input_.Record.Name) {
    input_.Download.ObjectKey = input_.Record.Path;
    input_.Download.TargetPath = targetPath_;
}

// The file is only needed by pg_restore; on a failed path it goes quietly, so the error that ended the
// restore is the one shown.
TRestoreSession::~TRestoreSession() {
    QFile::remove(targetPath_);
}

TServerCheck TRestoreSession::CheckServer(TRestoreHost& host) {
    return steps_.CheckServer(host);
}

void TRestoreSession::Prepare(TRestoreHost& host) {
    // Nothing is touched unless the backup is here whole: the download throws otherwise.
    host.Download(input_.Download);
    try {
        steps_.CheckArchive(host, targetPath_, input_.Record.Name);
        steps_.CheckTarget(host);
    } catch (const OperationStopped& stopped) {
        throw OperationStopped(stopped.Message() + QStringLiteral("; no database was changed"));
    }
}

int TRestoreSession::RestoreIntoTemporary(TRestoreHost& host) {
    return steps_.RestoreIntoTemporary(host, targetPath_);
}

void TRestoreSession::Finish(TRestoreHost& host, bool keep) {
    steps_.Finish(host, keep);
    if (!keep)
        return;
    RemoveFile(targetPath_);
    host.Log(QStringLiteral("The operation has been completed"));
}
