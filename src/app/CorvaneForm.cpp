#include "app/CorvaneForm.h"
#include "ui_CorvaneForm.h"

#include "app/ActivityLog.h"
#include "app/AppDialogs.h"
#include "app/CorvaneLoginForm.h"
#include "app/ErrorBox.h"
#include "app/MagnifierIcon.h"
#include "app/VersionText.h"
#include "app/WaitCursor.h"
#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"
#include "catalogue/CatalogueTable.h"
#include "core/Text.h"
#include "restore/DownloadBackup.h"
#include "restore/LogSink.h"
#include "restore/RestoreSequence.h"
#include "restore/TargetPath.h"
#include "settings/SettingsStore.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>

namespace {

constexpr int MaximumLogLines = 10000;

} // namespace

TCorvaneEditorForm::TCorvaneEditorForm(TCorvaneEnvironment environment, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , StorageInfo(environment.Storage)
    , ui(std::make_unique<Ui::TCorvaneEditorForm>())
    , catalogue(std::make_unique<TCatalogueTable>())
    , environment(std::move(environment))
    , accountClient(this->environment.AccountUrl) {
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
    WireEvents();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Errors during creation are shown at once and creation carries on.
    ReportErrors(this, [this] { FormCreate(); });
}

TCorvaneEditorForm::~TCorvaneEditorForm() = default;

void TCorvaneEditorForm::SetUpGrid() {
    ui->GridFiles->setModel(catalogue.get());
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
    // A double click anywhere in the grid, title row included, restores.
    ui->GridFiles->viewport()->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    indicator->viewport()->installEventFilter(this);
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

    connect(ui->GridFiles->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { catalogue->SetCurrentRow(current.row()); });
    connect(catalogue.get(), &TCatalogueTable::CurrentRecordMoved, this,
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
    connect(removeRecord, &QShortcut::activated, this, [this] { catalogue->RemoveCurrentRecord(); });
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
    ui->GridFiles->scrollTo(catalogue->index(row, 0));
}

SignInResult TCorvaneEditorForm::Authenticate(const QString& AUserName, const QString& APassword) {
    return accountClient.Authenticate(AUserName, APassword);
}

void TCorvaneEditorForm::FormCreate() {
    setWindowTitle(QStringLiteral("Corvane") + GetVersionText());
    LoadSettings();
}

void TCorvaneEditorForm::LoadSettings() {
    // Until both credentials have been read, the sign-in dialog is due: a store that cannot be read
    // must not leave the user signed out without a way to sign in.
    FShowLogin = true;
    SettingsStore store;
    ui->EdtBucket->setText(store.ReadText(SettingName::Bucket));
    ui->EdtTempDir->setText(store.ReadText(SettingName::TempDir));
    ui->EdtDBUsername->setText(store.ReadText(SettingName::DBUsername));
    // No stored number: one job per processor core. The spin box keeps the value within 1 and 8.
    bool jobsStored = false;
    const int jobs = store.ReadText(SettingName::RestoreJobs).toInt(&jobsStored);
    ui->EdtRestoreJobs->setValue(jobsStored ? jobs : QThread::idealThreadCount());
    const QString userName = store.ReadText(SettingName::Username);
    const QString password = store.ReadText(SettingName::Password);
    FShowLogin = userName.isEmpty() || password.isEmpty();
    if (!FShowLogin) {
        // Whatever kept the stored credentials from being accepted, the sign-in dialog follows; an
        // attempt there tells the user why, refused or unreachable.
        FShowLogin = !Authenticate(userName, password).IsAccepted();
        if (!FShowLogin)
            AutoConnect();
    }
}

void TCorvaneEditorForm::SaveSettings() {
    SettingsStore store;
    store.WriteText(SettingName::Bucket, ui->EdtBucket->text());
    store.WriteText(SettingName::TempDir, ui->EdtTempDir->text());
    store.WriteText(SettingName::DBUsername, ui->EdtDBUsername->text());
    store.WriteText(SettingName::RestoreJobs, QString::number(ui->EdtRestoreJobs->value()));
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
    if (!timerArmed) {
        timerArmed = true;
        Timer.start();
    }
}

void TCorvaneEditorForm::TimerTimer() {
    Timer.stop();
    ui->EdtFilter->setFocus();
    if (!FShowLogin)
        return;
    TLoginForm login(
        this, [this](const QString& user, const QString& password) { return Authenticate(user, password); },
        SettingsStore(), environment.EndTool);
    if (login.exec() == 1)
        AutoConnect();
}

void TCorvaneEditorForm::closeEvent(QCloseEvent* event) {
    try {
        SaveSettings();
        event->accept();
    } catch (const std::exception& error) {
        event->ignore();
        ShowErrorBox(this, MessageOf(error));
    }
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

void TCorvaneEditorForm::GridFilesDblClick() {
    BtnRestoreClick();
}

void TCorvaneEditorForm::BtnSearchClick() {
    SearchCatalogue(*catalogue, ui->EdtFilter->text());
}

void TCorvaneEditorForm::BtnConnectClick() {
    TOperationGuard operation(operationLock);
    WaitCursor hourglass;
    FillCatalogue(*catalogue, StorageInfo, ui->EdtBucket->text(), environment.StorageLimits, ServicePageSize,
                  [this](const QString& message) { Log(message); });
}

void TCorvaneEditorForm::Log(const QString& message) {
    ui->MemoLog->appendPlainText(FormatLogLine(QDateTime::currentDateTime(), message));
    ui->MemoLog->moveCursor(QTextCursor::End);
    // The new line shows from its timestamp on, also after a line wider than the box.
    ui->MemoLog->horizontalScrollBar()->setValue(0);
}

std::optional<TBackupRecord> TCorvaneEditorForm::CurrentRecord() const {
    if (catalogue->HasNoCurrentRecord())
        return std::nullopt;
    return TBackupRecord{catalogue->FieldAsText(TCatalogueField::Name),
                         catalogue->FieldAsText(TCatalogueField::Path)};
}

void TCorvaneEditorForm::mniDownloadClick() {
    TOperationGuard operation(operationLock);
    const QString target = TargetPath(ui->EdtTempDir->text(), catalogue->FieldAsText(TCatalogueField::Name));
    DownloadBackup(catalogue->FieldAsText(TCatalogueField::Path), target);
}

void TCorvaneEditorForm::DownloadBackup(const QString& objectKey, const QString& targetPath) {
    const TDownloadRequest request{StorageInfo, ui->EdtBucket->text(), objectKey, targetPath,
                                   environment.StorageLimits};
    TDownloadProgress progress;
    progress.Start = [this](int maximumKiB) {
        // A range of 0 to 0 would turn the bar into a busy indicator; an object under 1 KiB leaves the
        // bar empty all the same with a maximum of 1.
        ui->ProgressBar->setMaximum(std::max(maximumKiB, 1));
        ui->ProgressBar->setValue(0);
    };
    progress.Advance = [this](qint64 ACount) { OnDownloadProgress(ACount); };
    progress.Reset = [this] { ui->ProgressBar->setValue(0); };
    ::DownloadBackup(
        request, [this](const QString& message) { Log(message); }, progress);
}

void TCorvaneEditorForm::OnDownloadProgress(qint64 ACount) {
    QProgressBar* bar = ui->ProgressBar;
    bar->setValue(ProgressAfterBlock(bar->value(), ACount, bar->maximum()));
    QCoreApplication::processEvents();
}

void TCorvaneEditorForm::BtnTempDirClick() {
    if (const std::optional<QString> folder = PickBackupFolder(this, ui->EdtTempDir->text()))
        ui->EdtTempDir->setText(*folder);
}

void TCorvaneEditorForm::ClearLog() {
    ui->MemoLog->clear();
}

void TCorvaneEditorForm::FocusWorkingFolder() {
    ui->EdtTempDir->setFocus();
}

void TCorvaneEditorForm::FocusDatabaseUser() {
    ui->EdtDBUsername->setFocus();
}

void TCorvaneEditorForm::SetBusy(bool busy) {
    if (busy)
        busyCursor.emplace();
    for (QPushButton* button : {ui->BtnConnect, ui->BtnRestore, ui->BtnClose})
        button->setEnabled(!busy);
    if (!busy)
        busyCursor.reset();
}

std::optional<QString> TCorvaneEditorForm::PromptDatabaseName(const QString& proposed) {
    return ::PromptDatabaseName(this, proposed);
}

void TCorvaneEditorForm::Download(const TBackupRecord& record, const QString& targetPath) {
    DownloadBackup(record.Path, targetPath);
}

bool TCorvaneEditorForm::KeepRestoreWithErrors(const QString& database, int errorCount) {
    return AskKeepRestoredDatabase(this, database, errorCount);
}

void TCorvaneEditorForm::BtnRestoreClick() {
    const TRestoreInput input{ui->EdtTempDir->text(), ui->EdtDBUsername->text(), CurrentRecord(),
                              ui->EdtRestoreJobs->value()};
    RestoreBackup(input, *this, operationLock);
}
