#pragma once

#include "account/AccountClient.h"
#include "app/BackgroundOperation.h"
#include "app/CorvaneEnvironment.h"
#include "app/OperationProgress.h"
#include "app/RecordInWorkDelegate.h"
#include "restore/DownloadBackup.h"
#include "restore/RestoreSequence.h"
#include "storage/S3ConnectionInfo.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QMenu;
class TCatalogueTable;
namespace Ui {
class TCorvaneEditorForm;
}

// The main window: settings fields, the backup grid, the activity log with the progress bar, and the
// commands. Handlers gather their inputs here and leave the work to the subsystem libraries. Connect,
// Download and Restore run on a thread of their own (TBackgroundOperation), one at a time, while the
// window stays live; Stop or Escape ends them. The restore reaches the window through TRestoreWindow,
// relayed to the window's thread (TRestoreRelay).
class TCorvaneEditorForm : public QWidget, public TRestoreWindow {
    Q_OBJECT

  public:
    explicit TCorvaneEditorForm(TCorvaneEnvironment environment = TCorvaneEnvironment::FromBuild(),
                                QWidget* parent = nullptr);
    ~TCorvaneEditorForm() override;

    // The account check; the sign-in dialog reaches it through the window that owns it.
    SignInResult Authenticate(const QString& AUserName, const QString& APassword);

    TCatalogueTable& CdsObject() const { return *catalogue; }
    TS3ConnectionInfo StorageInfo;

    // Event handlers. They raise errors; the connections made in the constructor show them in the
    // standard error box, and tests call them directly. Connect, Download and Restore start their
    // operation and return; an operation's own error is shown in the box when it ends, and a stopped
    // one is logged.
    void TimerTimer();
    void EdtFilterKeyDown(int key);
    void BtnSearchClick();
    void GridFilesDblClick();
    void mniDownloadClick();
    void BtnTempDirClick();
    void BtnConnectClick();
    void BtnRestoreClick();
    void BtnCloseClick();
    void BtnStopClick();

    // Whether Connect, Download or Restore (or the start-up sign-in check) is running.
    bool IsOperationRunning() const { return operation.IsRunning(); }
    // Until the first tick after the window was shown has started the sign-in check or dialog.
    bool IsStartUpPending() const { return !timerArmed || Timer.isActive(); }

    void Log(const QString& message) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void LoadSettings();
    void SaveSettings();
    void AutoConnect();
    void WireEvents();
    void SetUpGrid();
    void SelectCurrentRow(int row);
    void PopupGridAtCurrentRow();
    std::optional<TBackupRecord> CurrentRecord() const;
    // What a download of the object into the target path needs, read from the window now.
    TDownloadRequest DownloadRequest(const QString& objectKey, const QString& targetPath) const;
    // The progress bar's counterpart of a download, fed from the download's thread.
    TDownloadProgress DownloadProgress();
    // A log that can be written from any thread: each line is appended on the window's thread.
    TLogFunction QueuedLog();

    enum class TOperationKind { SignIn, Connect, Download, Restore };
    // Starts work beside the window, with the window busy until it ends. On the window's thread, the
    // work's error is then shown (logged when the work was stopped), or else next runs.
    void StartOperation(TOperationKind kind, TBackgroundOperation::Work work,
                        std::function<void()> next = {});
    void OperationEnded(std::exception_ptr error, const std::function<void()>& next);
    void ShowOperationRunning(bool running);
    // Marks the grid's row of the backup the running operation works on; an empty name marks none.
    void MarkRecordInWork(const QString& name);
    void UpdateProgressBar();
    void StartSignInCheck(const QString& userName, const QString& password);
    void ShowSignIn();
    // "The download", "The restore" and the like, for the question on closing.
    QString RunningOperationName() const;

    // The restore's side of the window.
    void ClearLog() override;
    void FocusWorkingFolder() override;
    void FocusDatabaseUser() override;
    void SetBusy(bool busy) override;
    std::optional<QString> PromptDatabaseName(const QString& proposed) override;
    void Download(const TBackupRecord& record, const QString& targetPath) override;
    bool KeepRestoreWithErrors(const QString& database, int errorCount) override;

    std::unique_ptr<Ui::TCorvaneEditorForm> ui;
    std::unique_ptr<TCatalogueTable> catalogue;
    QMenu* PopupGrid = nullptr;
    TRecordInWorkDelegate* recordInWork = nullptr; // owned by the grid
    QTimer Timer;
    QTimer progressTimer; // moves the bar from the progress counters a few times a second
    TCorvaneEnvironment environment;
    AccountClient accountClient;
    TOperationProgress progress;
    TBackgroundOperation operation;
    bool FShowLogin = false;
    bool timerArmed = false;
    bool closeWhenEnded = false; // the user chose to stop the operation and close
    TOperationKind runningKind = TOperationKind::SignIn;
    QString storedUserName; // the credentials read at start-up, checked once the window is shown
    QString storedPassword;
    TDownloadRequest restoreDownload; // what the running restore's download reads, fixed at its start
};
