#pragma once

#include <QStyledItemDelegate>

// Draws the grid's rows, the row of the backup an operation is working on in bold, wherever a search or
// a new listing moves it: the row is known by the backup's name, which is unique in its folder.
class TRecordInWorkDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The backup in work; an empty name marks none.
    void SetRecordInWork(const QString& name) { FRecordInWork = name; }
    bool IsInWork(const QModelIndex& index) const;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    QString FRecordInWork;
};
