#include "restore/RestoreSession.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/ClientPrograms.h"
#include "restore/TargetPath.h"

#include <QFile>
#include <QFileInfo>

void CheckWorkingFolder(const QString& workingFolder) {
    if (workingFolder.isEmpty() || !QFileInfo(workingFolder).isDir())
        throw TError(QStringLiteral("Invalid temporary directory"));
}

TRestoreSession::TRestoreSession(TRestoreInput input)
    : FInput(std::move(input))
    , FTargetPath(::TargetPath(FInput.WorkingFolder, FInput.Record.Name))
    , FSteps(FInput.Server, FInput.Database, FInput.Jobs, FInput.Record.Name) {
    FInput.Download.ObjectKey = FInput.Record.Path;
    FInput.Download.TargetPath = FTargetPath;
    FInput.Download.Name = FInput.Record.Name;
}

// The file is only needed by pg_restore; on a failed path it goes quietly, so the error that ended the
// restore is the one shown.
TRestoreSession::~TRestoreSession() {
    try {
        RemoveDownloaded();
    } catch (const TError&) {
    }
}

void TRestoreSession::RemoveDownloaded() {
    if (!std::exchange(FDownloaded, false))
        return;
    RemoveFile(FTargetPath);
    RemoveFile(RecordFileOf(FTargetPath));
}

TServerCheck TRestoreSession::CheckServer(TRestoreHost& host) {
    CheckProgramArguments(FInput.Database, FInput.Server.User, FInput.WorkingFolder, FTargetPath);
    return FSteps.CheckServer(host);
}

bool TRestoreSession::Prepare(TRestoreHost& host) {
    FSteps.DropLeftovers(host, std::exchange(FLeftovers, {}));
    // Nothing is touched unless the backup is here whole: the download throws otherwise.
    const TDownloadOutcome outcome = host.Download(FInput.Download);
    if (outcome == TDownloadOutcome::TargetDiffers)
        return false;
    FDownloaded = outcome == TDownloadOutcome::Downloaded;
    try {
        FSteps.CheckArchive(host, FTargetPath, FInput.Record.Name);
        FSteps.CheckTarget(host);
    } catch (const TOperationStopped& stopped) {
        throw TOperationStopped(stopped.Message() + QStringLiteral("; no database was changed"));
    }
    return true;
}

TRestoreOutcome TRestoreSession::RestoreIntoTemporary(TRestoreHost& host) {
    return FSteps.RestoreIntoTemporary(host, FTargetPath);
}

void TRestoreSession::Finish(TRestoreHost& host, bool keep) {
    FSteps.Finish(host, keep);
    if (!keep)
        return;
    RemoveDownloaded();
    host.Log(QStringLiteral("The operation has been completed"));
}
