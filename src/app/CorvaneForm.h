#pragma once

#include "account/AccountClient.h"
#include "app/BackgroundOperation.h"
#include "app/CorvaneEnvironment.h"
#include "app/OperationProgress.h"
#include "app/RecordInWorkDelegate.h"
#include "core/LogQueue.h"
#include "restore/DownloadBackup.h"
#include "restore/RestoreSession.h"
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
// commands. Handlers gather their inputs here and leave the work to the subsystem libraries. The sign-in
// check, Connect, Download and the restore's phases run on a thread of their own (TBackgroundOperation),
// one at a time, while the window stays live; Stop or Escape ends them. Each gets a copy of what it
// needs and hands back a result on the window's thread; the only things it shares with the window are
// the log queue and the progress counters, both safe from any thread. The restore's questions are asked
// here, between its phases.
class TCorvaneEditorForm : public QWidget {
    Q_OBJECT

  public:
    explicit TCorvaneEditorForm(TCorvaneEnvironment environment = TCorvaneEnvironment::FromBuild(),
                                QWidget* parent = nullptr);
    ~TCorvaneEditorForm() override;

    // The account check; the sign-in dialog reaches it through the window that owns it.
    TSignInResult Authenticate(const QString& AUserName, const QString& APassword);

    TCatalogueTable& CdsObject() const { return *FCatalogue; }
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

    // Whether Connect, Download or a restore (or the start-up sign-in check) is running.
    bool IsOperationRunning() const { return FOperation.IsRunning() || FRestoreSession != nullptr; }
    // Until the first tick after the window was shown has started the sign-in check or dialog.
    bool IsStartUpPending() const { return !FTimerArmed || Timer.isActive(); }

    // Appends a line to the log after the lines background work has queued.
    void Log(const QString& message);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void SetUpLowerPanel();
    void SaveLog();
    void PlaceOnScreen();
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
    // A log for background work: lines go into the log queue, which the window empties into the log a
    // few times a second.
    TLogFunction QueuedLog();
    // Moves the lines background work has queued into the log.
    void FlushLog();

    enum class TOperationKind { SignIn, Connect, Download, Restore };
    // Starts work beside the window, with the window busy until it ends. On the window's thread, the
    // work's error is then shown (logged when the work was stopped), or else next gets its result.
    template <typename TResult>
    void StartOperation(TOperationKind kind, std::function<TResult(std::stop_token)> work,
                        std::function<void(TResult)> next);
    void StartOperation(TOperationKind kind, std::function<void(std::stop_token)> work,
                        std::function<void()> next = {});
    void OperationEnded(std::exception_ptr error, const std::function<void()>& next);
    // The operation, or the whole restore, is over: the window is idle again.
    void EndOperation();
    void ShowOperationRunning(bool running);
    // Marks the grid's row of the backup the running operation works on; an empty name marks none.
    void MarkRecordInWork(const QString& name);
    void UpdateProgressBar();
    void StartSignInCheck(const QString& userName, const QString& password);
    // One of the restore's phases beside the window, on the running restore's session.
    template <typename TResult>
    void RunRestorePhase(std::function<TResult(TRestoreSession&, TRestoreHost&)> phase,
                         std::function<void(TResult)> next);
    void StartDownload(TDownloadRequest request);
    void CheckRestoreServer();
    void ServerChecked(const TServerCheck& check);
    void PrepareRestore();
    void FinishRestore(const TRestoreOutcome& restored);
    void DropReplacedDatabase();
    void ShowSignIn();
    // "The download", "The restore" and the like, for the question on closing.
    QString RunningOperationName() const;

    std::unique_ptr<Ui::TCorvaneEditorForm> ui;
    std::unique_ptr<TCatalogueTable> FCatalogue;
    QMenu* PopupGrid = nullptr;
    TRecordInWorkDelegate* FRecordInWork = nullptr; // owned by the grid
    QTimer Timer;
    QTimer FProgressTimer; // moves the bar and the log from the queue and counters a few times a second
    TCorvaneEnvironment FEnvironment;
    TAccountClient FAccountClient;
    // Written by background work, read by the window; declared before the operation, so that they
    // outlive its thread.
    TLogQueue FLogQueue;
    TOperationProgress FProgress;
    TBackgroundOperation FOperation;
    bool FShowLogin = false;
    bool FTimerArmed = false;
    int FStoredPanelHeight = 0;   // 0: the designed height
    bool FCloseWhenEnded = false; // the user chose to stop the operation and close
    // The running restore's, from its first phase to the end of its last; its phases run on it in turn.
    std::shared_ptr<TRestoreSession> FRestoreSession;
    bool FPasswordRefused = false; // the server was given a password and asked again
    TOperationKind FRunningKind = TOperationKind::SignIn;
    QString FStoredUserName; // the credentials read at start-up, checked once the window is shown
    QString FStoredPassword;
    TPasswordVault FPasswordVault; // tells the log when no keyring answers
};
