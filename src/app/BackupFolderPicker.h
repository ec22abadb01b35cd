#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QTreeView;

// The folder picker of the working folder: the text "Backup directory" above a tree of the file system's
// folders, OK and Cancel, and nothing else (no edit box, no button that makes folders). It opens with
// the given folder selected when that folder exists, else with the desktop folder (the home folder
// where there is no desktop folder).
class TBackupFolderPicker : public QDialog {
    Q_OBJECT

  public:
    TBackupFolderPicker(QWidget* parent, const QString& initialFolder);

    // The selected folder's path in the platform's own form; empty when nothing is selected.
    QString SelectedFolder() const;

  private:
    void Select(const QString& folder);

    QFileSystemModel* FFolders;
    QTreeView* FTree;
    QString FStartFolder; // kept in view while the folders above it are read, until the user moves
};
