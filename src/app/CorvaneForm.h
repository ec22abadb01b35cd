#pragma once

#include "account/AccountClient.h"
#include "app/CorvaneEnvironment.h"
#include "app/WaitCursor.h"
#include "core/OperationLock.h"
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

// The main window: settings fields, the backup grid, the activity log with the download progress bar,
// and the commands. Handlers gather their inputs here and leave the work to the subsystem libraries; the
// restore reaches the window through TRestoreWindow.
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
    // standard error box, and tests call them directly.
    void TimerTimer();
    void EdtFilterKeyDown(int key);
    void BtnSearchClick();
    void GridFilesDblClick();
    void mniDownloadClick();
    void BtnTempDirClick();
    void BtnConnectClick();
    void BtnRestoreClick();
    void BtnCloseClick();

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
    void DownloadBackup(const QString& objectKey, const QString& targetPath);
    void OnDownloadProgress(qint64 ACount);

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
    QTimer Timer;
    TCorvaneEnvironment environment;
    AccountClient accountClient;
    TOperationLock operationLock;
    std::optional<WaitCursor> busyCursor; // the hourglass while a restore runs
    bool FShowLogin = false;
    bool timerArmed = false;
};
