#include "app/CorvaneForm.h"
#include "ui_CorvaneForm.h"

#include "app/ActivityLog.h"
#include "app/AppDialogs.h"
#include "app/CorvaneLoginForm.h"
#include "app/ErrorBox.h"
#include "app/MagnifierIcon.h"
#include "app/VersionText.h"
#include "app/WindowPlacement.h"
#include "app/WindowRestoreHost.h"
#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"
#include "catalogue/CatalogueTable.h"
#include "core/Text.h"
#include "restore/DatabaseName.h"
#include "restore/DownloadBackup.h"
#include "restore/LogSink.h"
#include "restore/RestoreSession.h"
#include "restore/TargetPath.h"
#include "settings/SettingsStore.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>

namespace {

constexpr int MaximumLogLines = 10000;
// How often the progress bar follows the counters and the log takes the queued lines: often enough to
// look smooth, whatever the block size, and seldom enough that a flood of output cannot keep the window
// busy.
constexpr std::chrono::milliseconds ProgressInterval{50};

} // namespace

TCorvaneEditorForm::TCorvaneEditorForm(TCorvaneEnvironment environment, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , StorageInfo(environment.Storage)
    , ui(std::make_unique<Ui::TCorvaneEditorForm>())
    , FCatalogue(std::make_unique<TCatalogueTable>())
    , FEnvironment(std::move(environment))
    , FAccountClient(this->FEnvironment.AccountUrl)
    , FPasswordVault(TSettingsStore(), FEnvironment.Keyring,
                     [this](const QString& message) { Log(message); }) {
    ui->setupUi(this);
    // A client program may write megabytes into the log; the oldest lines go beyond this many.
    ui->MemoLog->setMaximumBlockCount(MaximumLogLines);
    ui->BtnSearch->setIcon(MagnifierIcon());
    PopupGrid = new QMenu(this);
    PopupGrid->setObjectName(QStringLiteral("PopupGrid"));
    PopupGrid->addAction(ui->mniDownload);
    SetUpGrid();
    Timer.setObjectName(QStringLiteral("Timer"));
    Timer.setInterval(300);
    Timer.setSingleShot(true);
    FProgressTimer.setInterval(ProgressInterval);
    WireEvents();

    SetUpLowerPanel();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Errors during creation are shown at once and creation carries on.
    ReportErrors(this, [this] { FormCreate(); });
}

// An operation still running (a test that ends early, the program ending) is stopped and its thread
// joined while the window is whole; what it would have done next is dropped.
TCorvaneEditorForm::~TCorvaneEditorForm() {
    FOperation.StopAndJoin();
}

void TCorvaneEditorForm::SetUpGrid() {
    ui->GridFiles->setModel(FCatalogue.get());
    FRecordInWork = new TRecordInWorkDelegate(ui->GridFiles);
    ui->GridFiles->setItemDelegate(FRecordInWork);
    // The selected row stays highlighted when the grid loses the focus.
    QPalette palette = ui->GridFiles->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    ui->GridFiles->setPalette(palette);
    QHeaderView* header = ui->GridFiles->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->resizeSection(0, 400);
    header->resizeSection(1, 150);
    header->resizeSection(2, 198);
    QHeaderView* indicator = ui->GridFiles->verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setFixedWidth(12);
    indicator->setDefaultAlignment(Qt::AlignCenter);
    // A double click on a backup's row restores it; one on the column titles (a habit from resizing
    // columns elsewhere) does nothing.
    ui->GridFiles->viewport()->installEventFilter(this);
    indicator->viewport()->installEventFilter(this);
}

// The grid and the lower panel share what the window grows by, and the splitter between them moves
// the rest; the log takes what the lower panel gains. The log's menu adds "Save log as...".
void TCorvaneEditorForm::SetUpLowerPanel() {
    ui->SplitterMain->setStretchFactor(0, 1);
    ui->SplitterMain->setStretchFactor(1, 1);
    ui->MemoLog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->MemoLog, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        std::unique_ptr<QMenu> menu(ui->MemoLog->createStandardContextMenu());
        menu->addSeparator();
        QAction* save = menu->addAction(QStringLiteral("Save log as..."));
        save->setObjectName(QStringLiteral("mniSaveLog"));
        connect(save, &QAction::triggered, this, [this] { ReportErrors(this, [this] { SaveLog(); }); });
        menu->exec(ui->MemoLog->viewport()->mapToGlobal(pos));
    });
}

void TCorvaneEditorForm::SaveLog() {
    const QDir folder(QFileInfo(ui->EdtTempDir->text()).isDir() ? ui->EdtTempDir->text() : QDir::homePath());
    const QString proposed = folder.filePath(
        QStringLiteral("Corvane log %1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"))));
    const std::optional<QString> path = PickLogFile(this, proposed);
    if (!path)
        return;
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ui->MemoLog->toPlainText().toUtf8() + '\n') < 0 ||
        !file.commit())
        throw TError(QStringLiteral("The log could not be saved to \"%1\": %2")
                         .arg(QDir::toNativeSeparators(*path), file.errorString()));
    Log(QStringLiteral("Log saved to %1").arg(QDir::toNativeSeparators(*path)));
}

void TCorvaneEditorForm::WireEvents() {
    connect(&Timer, &QTimer::timeout, this, [this] { ReportErrors(this, [this] { TimerTimer(); }); });
    connect(ui->BtnSearch, &QAbstractButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnSearchClick(); }); });
    ui->EdtFilter->installEventFilter(this);
    connect(ui->mniDownload, &QAction::triggered, this,
            [this] { ReportErrors(this, [this] { mniDownloadClick(); }); });
    connect(ui->BtnTempDir, &QAbstractButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnTempDirClick(); }); });
    connect(ui->BtnConnect, &QAbstractButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnConnectClick(); }); });
    connect(ui->BtnRestore, &QAbstractButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnRestoreClick(); }); });
    connect(ui->BtnClose, &QAbstractButton::clicked, this,
            [this] { ReportErrors(this, [this] { BtnCloseClick(); }); });
    connect(ui->BtnStop, &QAbstractButton::clicked, this, &TCorvaneEditorForm::BtnStopClick);
    auto* stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopKey->setContext(Qt::WindowShortcut);
    connect(stopKey, &QShortcut::activated, this, &TCorvaneEditorForm::BtnStopClick);
    connect(&FProgressTimer, &QTimer::timeout, this, [this] {
        UpdateProgressBar();
        FlushLog();
    });

    connect(ui->GridFiles->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { FCatalogue->SetCurrentRow(current.row()); });
    connect(FCatalogue.get(), &TCatalogueTable::CurrentRecordMoved, this,
            &TCorvaneEditorForm::SelectCurrentRow);
    // A Ctrl+click on the selected row would clear the selection and leave the current record, on which
    // Restore and Download act, unmarked: the current row stays selected.
    connect(ui->GridFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QItemSelectionModel* selection = ui->GridFiles->selectionModel();
        if (!selection->hasSelection() && selection->currentIndex().isValid())
            ui->GridFiles->selectRow(selection->currentIndex().row());
    });
    // A right click anywhere in the grid opens the menu; on a row, the press has made that row current.
    connect(ui->GridFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupGrid->popup(ui->GridFiles->viewport()->mapToGlobal(pos)); });
    // The Menu key and Shift+F10 open the menu at the current row, also where the window system turns
    // them into a menu request of its own.
    ui->GridFiles->installEventFilter(this);
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* menuKey = new QShortcut(keys, ui->GridFiles);
        menuKey->setContext(Qt::WidgetWithChildrenShortcut);
        connect(menuKey, &QShortcut::activated, this, &TCorvaneEditorForm::PopupGridAtCurrentRow);
    }
    auto* removeRecord = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete), ui->GridFiles);
    removeRecord->setContext(Qt::WidgetWithChildrenShortcut);
    connect(removeRecord, &QShortcut::activated, this, [this] { FCatalogue->RemoveCurrentRecord(); });
}

void TCorvaneEditorForm::PopupGridAtCurrentRow() {
    QTableView* grid = ui->GridFiles;
    const QModelIndex current = grid->currentIndex();
    const QRect row = current.isValid() ? grid->visualRect(current.siblingAtColumn(0)) : QRect();
    const QPoint place = row.isValid() ? row.bottomLeft() : QPoint(0, 0);
    PopupGrid->popup(grid->viewport()->mapToGlobal(place));
}

void TCorvaneEditorForm::SelectCurrentRow(int row) {
    if (row < 0) {
        // The current index goes first, so that no row is selected again for it.
        ui->GridFiles->selectionModel()->clearCurrentIndex();
        ui->GridFiles->selectionModel()->clearSelection();
        return;
    }
    ui->GridFiles->selectRow(row);
    ui->GridFiles->scrollTo(FCatalogue->index(row, 0));
}

TSignInResult TCorvaneEditorForm::Authenticate(const QString& AUserName, const QString& APassword) {
    return FAccountClient.Authenticate(AUserName, APassword);
}

void TCorvaneEditorForm::FormCreate() {
    setWindowTitle(QStringLiteral("Corvane") + GetVersionText());
    LoadSettings();
}

void TCorvaneEditorForm::LoadSettings() {
    // Until both credentials have been read, the sign-in dialog is due: a store that cannot be read
    // must not leave the user signed out without a way to sign in.
    FShowLogin = true;
    TSettingsStore store;
    ui->EdtBucket->setText(store.ReadText(TSettingName::Bucket));
    ui->EdtTempDir->setText(store.ReadText(TSettingName::TempDir));
    ui->EdtDBUsername->setText(store.ReadText(TSettingName::DBUsername));
    ui->EdtDBHost->setText(store.ReadText(TSettingName::DBHost));
    ui->EdtDBPort->setText(store.ReadText(TSettingName::DBPort));
    // No stored number: one job per processor core. The spin box keeps the value within 1 and 8.
    bool jobsStored = false;
    const int jobs = store.ReadText(TSettingName::RestoreJobs).toInt(&jobsStored);
    ui->EdtRestoreJobs->setValue(jobsStored ? jobs : QThread::idealThreadCount());
    FStoredPanelHeight = store.ReadText(TSettingName::LogPanelHeight).toInt();
    FStoredUserName = store.ReadText(TSettingName::Username);
    FStoredPassword = FPasswordVault.Read();
    FShowLogin = FStoredUserName.isEmpty() || FStoredPassword.isEmpty();
}

void TCorvaneEditorForm::SaveSettings() {
    TSettingsStore store;
    store.WriteText(TSettingName::Bucket, ui->EdtBucket->text());
    store.WriteText(TSettingName::TempDir, ui->EdtTempDir->text());
    store.WriteText(TSettingName::DBUsername, ui->EdtDBUsername->text());
    store.WriteText(TSettingName::DBHost, ui->EdtDBHost->text());
    store.WriteText(TSettingName::DBPort, ui->EdtDBPort->text());
    store.WriteText(TSettingName::RestoreJobs, QString::number(ui->EdtRestoreJobs->value()));
    store.WriteText(TSettingName::LogPanelHeight, QString::number(ui->PanConfig->height()));
}

void TCorvaneEditorForm::AutoConnect() {
    // Blanks and control characters at both ends of the bucket setting do not count.
    if (!IsBlankText(ui->EdtBucket->text()))
        BtnConnectClick();
}

void TCorvaneEditorForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The start-up tick is armed when the window is first on screen, so that its work (the focus and
    // the sign-in dialog) never runs while the window is still hidden, not even inside an error box
    // shown during creation.
    if (!FTimerArmed) {
        FTimerArmed = true;
        PlaceOnScreen();
        Timer.start();
    }
}

// The lower panel gets the height it had when the window last closed (at first, its designed height),
// and the whole window is on the screen, however small or scaled the screen is.
void TCorvaneEditorForm::PlaceOnScreen() {
    const int total = ui->SplitterMain->height() - ui->SplitterMain->handleWidth();
    const int wanted = FStoredPanelHeight > 0 ? FStoredPanelHeight : ui->PanConfig->minimumHeight();
    const int panel = std::min(wanted, total - ui->GridFiles->minimumSizeHint().height());
    ui->SplitterMain->setSizes({total - panel, panel});
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QRect frame = frameGeometry();
    const QRect fitted = FittedOnScreen(frame, screen->availableGeometry());
    if (fitted == frame)
        return;
    resize(size() - (frame.size() - fitted.size()));
    move(fitted.topLeft());
}

// The first tick after the window is on screen: the stored credentials are checked beside the window,
// which is there at once; the listing follows when they are accepted, the sign-in dialog otherwise.
void TCorvaneEditorForm::TimerTimer() {
    Timer.stop();
    ui->EdtFilter->setFocus();
    if (FShowLogin)
        ShowSignIn();
    else
        StartSignInCheck(FStoredUserName, FStoredPassword);
}

void TCorvaneEditorForm::StartSignInCheck(const QString& userName, const QString& password) {
    StartOperation<TSignInResult>(
        TOperationKind::SignIn,
        [client = &FAccountClient, userName, password](std::stop_token stop) {
            return client->Authenticate(userName, password, stop);
        },
        [this, password](TSignInResult result) {
            // Whatever kept the stored credentials from being accepted, a stop included, the sign-in
            // dialog follows; an attempt there tells the user why, refused or unreachable.
            if (!result.IsAccepted()) {
                ShowSignIn();
                return;
            }
            // A password still kept in plain text moves into the keyring now that it is known to be right.
            try {
                FPasswordVault.MoveIntoKeyring(password);
            } catch (const std::exception& error) {
                Log(MessageOf(error));
            }
            AutoConnect();
        });
}

void TCorvaneEditorForm::ShowSignIn() {
    TLoginForm login(
        this,
        [client = &FAccountClient](const QString& user, const QString& password, std::stop_token stop) {
            return client->Authenticate(user, password, stop);
        },
        FPasswordVault, FEnvironment.EndTool);
    if (login.exec() == TLoginForm::ResultSignedIn)
        AutoConnect();
}

void TCorvaneEditorForm::closeEvent(QCloseEvent* event) {
    // Nothing of an operation runs on once the window is gone: closing asks to stop it first, and the
    // window closes when it has ended.
    if (IsOperationRunning()) {
        event->ignore();
        if (FCloseWhenEnded)
            return;
        if (!AskStopAndClose(this, RunningOperationName()))
            return;
        FCloseWhenEnded = true;
        // Ended while the question was open: the window closes now.
        if (!IsOperationRunning())
            QTimer::singleShot(0, this, &QWidget::close);
        BtnStopClick();
        return;
    }
    // A start-up tick still to come has nothing left to do.
    Timer.stop();
    // Closing always closes: settings that cannot be saved are reported, and the window goes anyway.
    try {
        SaveSettings();
    } catch (const std::exception& error) {
        ShowErrorBox(this, QStringLiteral("The settings could not be saved: %1").arg(MessageOf(error)));
    }
    event->accept();
}

void TCorvaneEditorForm::BtnCloseClick() {
    close();
}

bool TCorvaneEditorForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->EdtFilter) {
        if (event->type() == QEvent::KeyPress)
            ReportErrors(this, [&] { EdtFilterKeyDown(static_cast<QKeyEvent*>(event)->key()); });
        return false; // the field handles the key as usual
    }
    if (watched == ui->GridFiles && event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        PopupGridAtCurrentRow();
        return true;
    }
    // Only the left button's double click restores; a right double click is two menu requests.
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ReportErrors(this, [this] { GridFilesDblClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TCorvaneEditorForm::EdtFilterKeyDown(int key) {
    // Enter searches whatever modifier keys are held.
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        BtnSearchClick();
}

// A double click while an operation runs is ignored, as the disabled Restore button would be.
void TCorvaneEditorForm::GridFilesDblClick() {
    if (!IsOperationRunning())
        BtnRestoreClick();
}

void TCorvaneEditorForm::BtnSearchClick() {
    SearchCatalogue(*FCatalogue, ui->EdtFilter->text());
}

// The listing is read into records of its own beside the window and handed to the grid whole. The grid
// keeps the list it shows until then; when the listing fails or is stopped, it stays, and the message
// says that it may be out of date.
void TCorvaneEditorForm::BtnConnectClick() {
    const QString bucketSetting = ui->EdtBucket->text();
    const QString bucket = SplitBucketSetting(bucketSetting).at(0);
    FOperation.CheckIdle();
    const QString listKept = FCatalogue->rowCount() > 0
                                 ? QStringLiteral("; the list shown is that of an earlier Connect and may be "
                                                  "out of date")
                                 : QString();
    StartOperation<std::shared_ptr<TCatalogueRecords>>(
        TOperationKind::Connect,
        [bucket, bucketSetting, listKept, info = StorageInfo, limits = FEnvironment.StorageLimits,
         log = QueuedLog(), progress = &FProgress](std::stop_token stop) mutable {
            limits.Stop = stop;
            TListingOptions options;
            options.Log = log;
            options.Progress = [progress](const TListingCount& count) {
                progress->SetListed(count.Keys, count.Pages);
            };
            try {
                return std::make_shared<TCatalogueRecords>(
                    ListCatalogue(info, bucketSetting, limits, options));
            } catch (const TOperationStopped&) {
                throw TOperationStopped(QStringLiteral("The listing of \"%1\" was stopped").arg(bucket) +
                                        listKept);
            } catch (const TError& error) {
                if (listKept.isEmpty())
                    throw;
                throw TError(MessageOf(error) + listKept);
            }
        },
        [this](std::shared_ptr<TCatalogueRecords> records) { FCatalogue->TakeRecords(std::move(*records)); });
}

TLogFunction TCorvaneEditorForm::QueuedLog() {
    return [queue = &FLogQueue](const QString& message) { queue->Push(message); };
}

void TCorvaneEditorForm::FlushLog() {
    const QStringList lines = FLogQueue.TakeBatch();
    if (lines.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    QStringList stamped;
    stamped.reserve(lines.size());
    for (const QString& line : lines)
        stamped << FormatLogLine(now, line);
    // One block of text for the whole batch: the box lays itself out once, not once per line.
    ui->MemoLog->appendPlainText(stamped.join(u'\n'));
    ui->MemoLog->moveCursor(QTextCursor::End);
    // The new line shows from its timestamp on, also after a line wider than the box.
    ui->MemoLog->horizontalScrollBar()->setValue(0);
}

void TCorvaneEditorForm::Log(const QString& message) {
    FLogQueue.Push(message);
    FlushLog();
}

std::optional<TBackupRecord> TCorvaneEditorForm::CurrentRecord() const {
    if (FCatalogue->HasNoCurrentRecord())
        return std::nullopt;
    return TBackupRecord{FCatalogue->FieldAsText(TCatalogueField::Name),
                         FCatalogue->FieldAsText(TCatalogueField::Path)};
}

// The name is checked (and made a local file name) here, so that a name no file can have is refused
// before anything is asked of the storage.
void TCorvaneEditorForm::mniDownloadClick() {
    const QString name = FCatalogue->FieldAsText(TCatalogueField::Name);
    TDownloadRequest request = DownloadRequest(FCatalogue->FieldAsText(TCatalogueField::Path),
                                               TargetPath(ui->EdtTempDir->text(), name));
    request.Name = name;
    StartDownload(request);
}

// A file in the way that is not this backup is replaced only once the user said so; the download then
// starts again, replacing it.
void TCorvaneEditorForm::StartDownload(TDownloadRequest request) {
    StartOperation<TDownloadOutcome>(
        TOperationKind::Download,
        [request, log = QueuedLog(), progress = TransferProgressOf(FProgress)](std::stop_token stop) mutable {
            request.Limits.Stop = stop;
            return ::DownloadBackup(request, log, progress);
        },
        [this, request](TDownloadOutcome outcome) {
            if (outcome != TDownloadOutcome::TargetDiffers)
                return;
            if (!AskReplaceBackupFile(this, request.TargetPath)) {
                Log(QStringLiteral("The download of \"%1\" was cancelled; %2 stays as it was")
                        .arg(request.Name, request.TargetPath));
                return;
            }
            TDownloadRequest replacing = request;
            replacing.ReplaceExisting = true;
            StartDownload(replacing);
        });
    MarkRecordInWork(request.Name);
}

TDownloadRequest TCorvaneEditorForm::DownloadRequest(const QString& objectKey,
                                                     const QString& targetPath) const {
    return {StorageInfo, ui->EdtBucket->text(), objectKey, targetPath, FEnvironment.StorageLimits, {}, false};
}

template <typename TResult>
void TCorvaneEditorForm::StartOperation(TOperationKind kind, std::function<TResult(std::stop_token)> work,
                                        std::function<void(TResult)> next) {
    // Written by the work's thread before it ends, read on this thread after it has ended.
    auto result = std::make_shared<std::optional<TResult>>();
    StartOperation(
        kind, [work = std::move(work), result](std::stop_token stop) { result->emplace(work(stop)); },
        [next = std::move(next), result] { next(std::move(**result)); });
}

void TCorvaneEditorForm::StartOperation(TOperationKind kind, std::function<void(std::stop_token)> work,
                                        std::function<void()> next) {
    FRunningKind = kind;
    FOperation.Start(std::move(work), [this, next = std::move(next)](std::exception_ptr error) {
        OperationEnded(error, next);
    });
    ShowOperationRunning(true);
}

void TCorvaneEditorForm::OperationEnded(std::exception_ptr error, const std::function<void()>& next) {
    FlushLog();
    // A restore's phase that ended well leaves the next step to the restore, which ends itself.
    if (error || !FRestoreSession)
        EndOperation();
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const TOperationStopped& stopped) {
            Log(stopped.Message());
        } catch (const std::exception& failure) {
            // The log ends with what ended the operation, as the error box says it.
            Log(QStringLiteral("%1 failed: %2").arg(RunningOperationName(), MessageOf(failure)));
            if (!FCloseWhenEnded)
                ShowErrorBox(this, MessageOf(failure));
        }
    } else if (next && !(FCloseWhenEnded && !FRestoreSession)) {
        ReportErrors(this, next);
    }
    if (FCloseWhenEnded && !IsOperationRunning())
        close();
}

void TCorvaneEditorForm::EndOperation() {
    FRestoreSession.reset();
    ShowOperationRunning(false);
    MarkRecordInWork({});
}

QString TCorvaneEditorForm::RunningOperationName() const {
    switch (FRunningKind) {
    case TOperationKind::SignIn:
        return QStringLiteral("The sign-in check");
    case TOperationKind::Connect:
        return QStringLiteral("Connect");
    case TOperationKind::Download:
        return QStringLiteral("The download");
    case TOperationKind::Restore:
        return QStringLiteral("The restore");
    }
    return {};
}

// While an operation runs, the commands that would start another are disabled, Stop is enabled, and the
// busy cursor shows over the grid and those commands (not over Stop, nor the log).
void TCorvaneEditorForm::ShowOperationRunning(bool running) {
    for (QWidget* command : std::initializer_list<QWidget*>{ui->BtnConnect, ui->BtnRestore})
        command->setEnabled(!running);
    ui->mniDownload->setEnabled(!running);
    ui->BtnStop->setEnabled(running);
    for (QWidget* busy :
         std::initializer_list<QWidget*>{ui->GridFiles->viewport(), ui->BtnConnect, ui->BtnRestore}) {
        if (running)
            busy->setCursor(Qt::BusyCursor);
        else
            busy->unsetCursor();
    }
    FProgress.Clear();
    UpdateProgressBar();
    if (running)
        FProgressTimer.start();
    else
        FProgressTimer.stop();
}

void TCorvaneEditorForm::MarkRecordInWork(const QString& name) {
    FRecordInWork->SetRecordInWork(name);
    ui->GridFiles->viewport()->update();
}

void TCorvaneEditorForm::UpdateProgressBar() {
    const TOperationProgress::TSnapshot now = FProgress.Read();
    QProgressBar* bar = ui->ProgressBar;
    QString text;
    switch (now.Kind) {
    case TOperationProgress::TKind::None:
        break;
    case TOperationProgress::TKind::Transfer:
        text = TransferProgressText(now.Done, now.Total, now.Elapsed);
        break;
    case TOperationProgress::TKind::Items:
        text = ItemsProgressText(now.Done, now.Total);
        break;
    case TOperationProgress::TKind::Listing:
        text = ListingProgressText(now.Done, now.Total);
        break;
    }
    const bool measured =
        now.Kind == TOperationProgress::TKind::Transfer || now.Kind == TOperationProgress::TKind::Items;
    bar->setValue(measured ? ProgressPermille(now.Done, now.Total) : 0);
    bar->setFormat(text);
}

void TCorvaneEditorForm::BtnStopClick() {
    if (!FOperation.IsRunning() || FOperation.IsStopRequested())
        return;
    Log(QStringLiteral("Stopping: %1").arg(RunningOperationName()));
    FOperation.RequestStop();
}

void TCorvaneEditorForm::BtnTempDirClick() {
    if (const std::optional<QString> folder = PickBackupFolder(this, ui->EdtTempDir->text()))
        ui->EdtTempDir->setText(*folder);
}

// The restore's fields are checked and its name asked for here, before anything runs; then its phases
// run beside the window, its questions asked in between: the server's password when it wants one,
// whether to replace a database that exists (before anything is downloaded), and whether to keep a
// restore with ignored errors.
void TCorvaneEditorForm::BtnRestoreClick() {
    FOperation.CheckIdle();
    try {
        CheckWorkingFolder(ui->EdtTempDir->text());
    } catch (const TError&) {
        ui->EdtTempDir->setFocus();
        throw;
    }
    try {
        CheckDatabaseUser(ui->EdtDBUsername->text());
    } catch (const TError&) {
        ui->EdtDBUsername->setFocus();
        throw;
    }
    try {
        CheckDatabaseHost(ui->EdtDBHost->text());
    } catch (const TError&) {
        ui->EdtDBHost->setFocus();
        throw;
    }
    try {
        CheckDatabasePort(ui->EdtDBPort->text());
    } catch (const TError&) {
        ui->EdtDBPort->setFocus();
        throw;
    }
    const std::optional<TBackupRecord> record = CurrentRecord();
    if (!record)
        return;
    const std::optional<QString> database = PromptDatabaseName(this, DeriveDatabaseName(record->Name));
    if (!database)
        return;
    CheckDatabaseName(*database);
    ui->MemoLog->clear();

    const TDatabaseServer server{ui->EdtDBHost->text(), ui->EdtDBPort->text(), ui->EdtDBUsername->text(), {}};
    FRestoreSession = std::make_shared<TRestoreSession>(TRestoreInput{ui->EdtTempDir->text(), server, *record,
                                                                      *database, ui->EdtRestoreJobs->value(),
                                                                      DownloadRequest({}, {})});
    FPasswordRefused = false;
    CheckRestoreServer();
    MarkRecordInWork(record->Name);
}

void TCorvaneEditorForm::CheckRestoreServer() {
    RunRestorePhase<TServerCheck>(
        [](TRestoreSession& session, TRestoreHost& host) { return session.CheckServer(host); },
        [this](TServerCheck check) { ServerChecked(check); });
}

void TCorvaneEditorForm::ServerChecked(const TServerCheck& check) {
    if (FOperation.IsStopRequested()) {
        EndOperation();
        Log(QStringLiteral("The restore was stopped; nothing was downloaded"));
        return;
    }
    if (check.PasswordNeeded) {
        const std::optional<QString> password =
            PromptDatabasePassword(this, FRestoreSession->Input().Server.User, FPasswordRefused);
        if (!password) {
            EndOperation();
            Log(QStringLiteral("The restore was cancelled; nothing was downloaded"));
            return;
        }
        FPasswordRefused = true;
        FRestoreSession->SetPassword(*password);
        CheckRestoreServer();
        return;
    }
    const QString& database = FRestoreSession->Input().Database;
    if (check.TargetExists && !AskReplaceDatabase(this, database, check.TargetSize, check.TargetOwner)) {
        EndOperation();
        Log(QStringLiteral("The restore was cancelled; nothing was downloaded"));
        return;
    }
    // Asked once the restore goes ahead, so that a cancelled restore changes nothing at all.
    if (!check.Leftovers.isEmpty()) {
        Log(QStringLiteral("Temporary databases left by an earlier restore: ") +
            check.Leftovers.join(QStringLiteral(", ")));
        if (AskDropLeftoverDatabases(this, check.Leftovers))
            FRestoreSession->DropLeftoversFirst(check.Leftovers);
    }
    PrepareRestore();
}

// A file of the backup's name in the working folder that is not this backup is replaced only once the
// user said so; otherwise the restore ends there, having changed nothing.
void TCorvaneEditorForm::PrepareRestore() {
    RunRestorePhase<bool>(
        [](TRestoreSession& session, TRestoreHost& host) { return session.Prepare(host); },
        [this](bool ready) {
            if (FOperation.IsStopRequested()) {
                EndOperation();
                Log(QStringLiteral("The restore was stopped; no database was changed"));
                return;
            }
            if (!ready) {
                const QString path = FRestoreSession->TargetPath();
                if (!AskReplaceBackupFile(this, path)) {
                    EndOperation();
                    Log(QStringLiteral(
                            "The restore was cancelled; nothing was downloaded and %1 stays as it was")
                            .arg(path));
                    return;
                }
                FRestoreSession->ReplaceExistingFile();
                PrepareRestore();
                return;
            }
            RunRestorePhase<TRestoreOutcome>(
                [](TRestoreSession& session, TRestoreHost& host) {
                    return session.RestoreIntoTemporary(host);
                },
                [this](TRestoreOutcome restored) { FinishRestore(restored); });
        });
}

template <typename TResult>
void TCorvaneEditorForm::RunRestorePhase(std::function<TResult(TRestoreSession&, TRestoreHost&)> phase,
                                         std::function<void(TResult)> next) {
    StartOperation<TResult>(
        TOperationKind::Restore,
        [session = FRestoreSession, phase = std::move(phase), queue = &FLogQueue,
         counters = &FProgress](std::stop_token stop) {
            TWindowRestoreHost host(*queue, *counters, stop);
            return phase(*session, host);
        },
        std::move(next));
}

// The restored database replaces the named one when it is whole, or when the user keeps it despite
// the errors pg_restore went past; a stop or a close asked for meanwhile discards it.
void TCorvaneEditorForm::FinishRestore(const TRestoreOutcome& restored) {
    const bool keep =
        !FOperation.IsStopRequested() && !FCloseWhenEnded &&
        (restored.IgnoredErrors == 0 || AskKeepRestoredDatabase(this, FRestoreSession->Input().Database,
                                                                restored.IgnoredErrors, restored.Messages));
    RunRestorePhase<int>(
        [keep](TRestoreSession& session, TRestoreHost& host) {
            session.Finish(host, keep);
            return 0;
        },
        [this](int) { DropReplacedDatabase(); });
}

// The restore is made once the swap is; the old database, under its temporary name, is dropped after
// that is reported, beside the window like every phase.
void TCorvaneEditorForm::DropReplacedDatabase() {
    if (!FRestoreSession->HasReplaced()) {
        EndOperation();
        return;
    }
    RunRestorePhase<int>(
        [](TRestoreSession& session, TRestoreHost& host) {
            session.DropReplaced(host);
            return 0;
        },
        [this](int) { EndOperation(); });
}
