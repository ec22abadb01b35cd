#pragma once

#include "restore/RunAndWait.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

// The catalogue record a restore works on.
struct TBackupRecord {
    QString Name; // relative name, used for the local file and the proposed database name
    QString Path; // the object's full key
};

// What a restore asks of the window it runs in. The main window implements it; the tests have one fake.
class TRestoreWindow {
  public:
    virtual ~TRestoreWindow() = default;

    // Appends one message to the activity log; the log adds the timestamp.
    virtual void Log(const QString& message) = 0;
    virtual void ClearLog() = 0;
    virtual void FocusWorkingFolder() = 0;
    virtual void FocusDatabaseUser() = 0;
    // Hourglass and Connect, Restore and Close disabled while true.
    virtual void SetBusy(bool busy) = 0;
    // The "Restore backup" prompt with the proposed name selected: the confirmed text, or none on cancel.
    virtual std::optional<QString> PromptDatabaseName(const QString& proposed) = 0;
    // DownloadBackup of the record into the target path; returns only when the backup arrived whole.
    virtual void Download(const TBackupRecord& record, const QString& targetPath) = 0;
    // pg_restore went through the whole backup but ignored errorCount errors, whose messages are in the
    // log: true keeps the restored database in place of the one named database, false discards it.
    virtual bool KeepRestoreWithErrors(const QString& database, int errorCount) = 0;
    // Runs one client program to its end: RunAndWait, logging into Log.
    virtual TProgramOutcome RunClientProgram(const QString& program, const QString& parameters,
                                             const TProgramWatch& watch);
    // The user's stop for the restore; a window without a Stop never asks for one.
    virtual std::stop_token StopToken() const { return {}; }
    // pg_restore has started done of the archive's total items.
    virtual void ShowRestoreProgress(int done, int total) {
        Q_UNUSED(done);
        Q_UNUSED(total);
    }

    // Logs the message that FormatLogTemplate makes of a template and its arguments.
    void LogFmt(const QString& logTemplate, const QStringList& arguments);
};
