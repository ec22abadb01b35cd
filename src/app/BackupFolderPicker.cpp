#include "app/BackupFolderPicker.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QString StartFolder(const QString& initialFolder) {
    if (!initialFolder.isEmpty() && QFileInfo(initialFolder).isDir())
        return initialFolder;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

} // namespace

TBackupFolderPicker::TBackupFolderPicker(QWidget* parent, const QString& initialFolder)
    : QDialog(parent)
    , FFolders(new QFileSystemModel(this))
    , FTree(new QTreeView(this)) {
    setObjectName(QStringLiteral("BackupFolderPicker"));
    setWindowTitle(QStringLiteral("Browse For Folder"));

    auto* caption = new QLabel(QStringLiteral("Backup directory"), this);
    caption->setObjectName(QStringLiteral("Caption"));

    FFolders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    FFolders->setReadOnly(true);
    FFolders->setRootPath(QString());
    FTree->setObjectName(QStringLiteral("FolderTree"));
    FTree->setModel(FFolders);
    FTree->setHeaderHidden(true);
    for (int column = 1; column < FFolders->columnCount(); ++column)
        FTree->hideColumn(column);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    caption->setBuddy(FTree);
    // The model reads folders in the background, and each folder read moves the rows below it: until
    // the user moves, the start folder is brought back into view as the folders above it are read.
    const auto keepStartFolderInView = [this] {
        if (!FStartFolder.isEmpty())
            FTree->scrollTo(FTree->currentIndex(), QAbstractItemView::PositionAtCenter);
    };
    connect(FFolders, &QFileSystemModel::rowsInserted, this, keepStartFolderInView, Qt::QueuedConnection);
    connect(FFolders, &QFileSystemModel::layoutChanged, this, keepStartFolderInView, Qt::QueuedConnection);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // OK needs a folder.
    connect(FTree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this, buttons] {
        FStartFolder.clear();
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!SelectedFolder().isEmpty());
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(FTree);
    layout->addWidget(buttons);
    resize(320, 400);

    Select(StartFolder(initialFolder));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!SelectedFolder().isEmpty());
}

void TBackupFolderPicker::Select(const QString& folder) {
    const QModelIndex index = FFolders->index(folder);
    if (!index.isValid())
        return;
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        FTree->expand(above);
    FTree->setCurrentIndex(index);
    FStartFolder = FFolders->filePath(index);
    FTree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

QString TBackupFolderPicker::SelectedFolder() const {
    const QModelIndex current = FTree->currentIndex();
    return current.isValid() ? QDir::toNativeSeparators(FFolders->filePath(current)) : QString();
}
