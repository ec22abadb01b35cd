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
    , folders_(new QFileSystemModel(this))
    , tree_(new QTreeView(this)) {
    setObjectName(QStringLiteral("BackupFolderPicker"));
    setWindowTitle(QStringLiteral("Browse For Folder"));

    auto* caption = new QLabel(QStringLiteral("Backup directory"), this);
    caption->setObjectName(QStringLiteral("Caption"));

    folders_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    folders_->setReadOnly(true);
    folders_->setRootPath(QString());
    tree_->setObjectName(QStringLiteral("FolderTree"));
    tree_->setModel(folders_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < folders_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    caption->setBuddy(tree_);
    // The model reads folders in the background, and each folder read moves the rows below it: until
    // the user moves, the start folder is brought back into view as the folders above it are read.
    const auto keepStartFolderInView = [this] {
        if (!startFolder_.isEmpty())
            tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
    };
    connect(folders_, &QFileSystemModel::rowsInserted, this, keepStartFolderInView, Qt::QueuedConnection);
    connect(folders_, &QFileSystemModel::layoutChanged, this, keepStartFolderInView, Qt::QueuedConnection);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // OK needs a folder.
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this, buttons] {
        startFolder_.clear();
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!SelectedFolder().isEmpty());
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(tree_);
    layout->addWidget(buttons);
    resize(320, 400);

    Select(StartFolder(initialFolder));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!SelectedFolder().isEmpty());
}

void TBackupFolderPicker::Select(const QString& folder) {
    const QModelIndex index = folders_->index(folder);
    if (!index.isValid())
        return;
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        tree_->expand(above);
    tree_->setCurrentIndex(index);
    startFolder_ = folders_->filePath(index);
    tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

QString TBackupFolderPicker::SelectedFolder() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? QDir::toNativeSeparators(folders_->filePath(current)) : QString();
}
