#include "app/RecordInWorkDelegate.h"

bool TRecordInWorkDelegate::IsInWork(const QModelIndex& index) const {
    return !FRecordInWork.isEmpty() && index.siblingAtColumn(0).data().toString() == FRecordInWork;
}

void TRecordInWorkDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (IsInWork(index))
        option->font.setBold(true);
}
